#pragma once
// The session's events as plain records. Value types: any thread, no blocking, no shared state.

#include <cstdint>
#include <optional>
#include <string>

namespace rillow {

// The kinds of event the session bridge delivers. Values 7 and 8 are never emitted; a consumer
// ignores any value it does not know.
enum RTAlertType : std::int64_t {
    RTAlertTypeTorrentAdded = 1,
    RTAlertTypeMetadataReceived = 2,
    RTAlertTypeMetadataFailed = 3,
    RTAlertTypePieceFinished = 4,
    RTAlertTypeStatus = 5,
    RTAlertTypeTorrentFinished = 6,
    RTAlertTypeTorrentError = 9,
    RTAlertTypeFileError = 10,
};

// One delivered event. Built on the alert thread and handed to the alert handler by reference;
// the handler copies what it keeps.
struct RTAlert {
    explicit RTAlert(RTAlertType alertType) : type(alertType) {}

    RTAlertType type;
    std::optional<std::string> infoHash;  // info-hash key of the torrent the event is about
    std::int64_t pieceIndex = -1;         // completed piece, for piece events
    std::int64_t downloadRate = 0;        // payload bytes per second
    std::int64_t uploadRate = 0;          // payload bytes per second
    std::int64_t numPeers = 0;
    std::int64_t numSeeds = 0;
    double progress = 0;  // fraction 0..1 of the wanted data that is done
    std::int64_t allTimeUpload = 0;
    std::int64_t allTimeDownload = 0;
    std::int64_t seedingSeconds = 0;
    std::optional<std::string> errorMessage;  // for error events
};

}  // namespace rillow
