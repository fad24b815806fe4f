#pragma once
// Media made at test time with ffmpeg, cached under $RILLOW_TEST_MEDIA_CACHE (the build folder's
// "test-media"), else the temporary folder. Any thread; blocks while ffmpeg runs (a few seconds,
// once per build). Concurrent test processes may ask for the same clip: each writes a temporary
// name and renames it into place, so readers never see a partial file.

#include <QString>

namespace rillow::test {

struct ClipSpec {
    enum class Container { mkv, mp4, m4a };
    Container container = Container::mkv;
    int seconds = 5;
    int width = 320;
    int height = 240;
    int fps = 25;
    // An ffmpeg lavfi video source: "testsrc2" (moving pattern) or e.g. "color=c=red" for a
    // solid colour whose pixels a test can check.
    QString pattern = QStringLiteral("testsrc2");
    bool video = true;
    bool audio = true;       // AAC sine tone
    bool subtitles = false;  // mkv only: an embedded English SRT track
    QString audioLanguage = QStringLiteral("eng");
    bool indexAtStart = true;  // mp4: "faststart" moves the index before the media data
    int videoBitrateKbps = 0;  // 0: encoder default (CRF)
};

// The path of a clip made to `spec`, or an empty string when ffmpeg failed.
QString makeClip(const ClipSpec& spec);

// The usual clips.
QString mkvWithSubtitles();  // 5 s, 320x240, H.264 + AAC + English SRT
QString mp4IndexAtStart();   // 5 s, H.264 + AAC, moov before mdat
QString mp4IndexAtEnd();     // 5 s, H.264 + AAC, moov after mdat
QString audioOnly();         // 5 s AAC in .m4a

// Runs ffmpeg with `arguments` (after "-y -hide_banner -loglevel error"); true on exit code 0.
bool runFfmpeg(const QStringList& arguments, int timeoutMs = 120'000);

}  // namespace rillow::test
