#pragma once
// The immutable description of one file of a torrent. Value type: any thread.

#include <cstdint>
#include <string>
#include <utility>

namespace rillow {

class RTFileEntry {
public:
    RTFileEntry(std::int64_t index, std::string filePath, std::int64_t fileLength,
                std::int64_t fileOffset)
        : _fileIndex(index), _path(std::move(filePath)), _length(fileLength), _offset(fileOffset) {}

    // Index in the torrent's file storage, from 0.
    std::int64_t fileIndex() const { return _fileIndex; }
    // Path inside the torrent without a save path; starts with the torrent's folder name for a
    // multi-file torrent, is the file name for a single-file torrent. Pad files are included.
    const std::string& path() const { return _path; }
    std::int64_t length() const { return _length; }
    // Offset of the file's first byte within the torrent's concatenated data.
    std::int64_t offset() const { return _offset; }

private:
    std::int64_t _fileIndex;
    std::string _path;
    std::int64_t _length;
    std::int64_t _offset;
};

}  // namespace rillow
