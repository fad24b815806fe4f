#pragma once
// Turns a downloaded subtitle (plain text in any encoding, gzip, ZIP, or an HTML error page)
// into UTF-8-ready text and a format mpv can load, guessing the language when the addon named
// none. Pure functions without state; any thread. `transcode` is CPU-bound (it may decode and
// score a few megabytes a dozen times): the coordinator runs it on a background worker.

#include "subtitles/SubtitleArchive.h"
#include "subtitles/TextDecoding.h"

#include <QByteArrayView>
#include <QString>
#include <optional>

namespace rillow {

// Converted subtitle text and its format: the file extension without a dot, one of "srt",
// "ass", "ssa", "vtt", "sub", "smi", "txt".
struct SubtitleText {
    QString text;
    QString format;
    bool operator==(const SubtitleText&) const = default;
};

namespace SubtitleTranscoder {

struct Result {
    SubtitleText subtitle;
    std::optional<QString> detectedLanguage;  // only when the language had to be guessed
};

// `language`: as the addon gave it, normalised or not. `encodingHint`: the addon's stated
// encoding. `nameHint`: a file name whose extension may tell the format.
Outcome<Result> transcode(QByteArrayView data, const std::optional<QString>& language,
                          const std::optional<QString>& encodingHint,
                          const std::optional<QString>& nameHint);

// The format by content first ("WEBVTT", "[Script Info]", SRT timings, MicroDVD frames,
// "<SAMI"), then by the name's extension, else "srt".
QString detectFormat(const QString& text, const std::optional<QString>& name);

}  // namespace SubtitleTranscoder
}  // namespace rillow
