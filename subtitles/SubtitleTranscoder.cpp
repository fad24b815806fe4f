#include "subtitles/SubtitleTranscoder.h"

#include "subtitles/IcuText.h"
#include "subtitles/Languages.h"

namespace rillow::SubtitleTranscoder {

QString detectFormat(const QString& text, const std::optional<QString>& name) {
    const QString head = text.left(4096);
    qsizetype lead = 0;
    while (lead < head.size() && head[lead].isSpace()) ++lead;
    const QStringView trimmed = QStringView(head).mid(lead);

    if (trimmed.startsWith(u"WEBVTT")) return QStringLiteral("vtt");
    if (head.contains(u"[script info]", Qt::CaseInsensitive)) return QStringLiteral("ass");
    if (icutext::contains(QStringLiteral(R"(\d{1,2}:\d{2}:\d{2}[,.]\d{1,3}\s*-->)"), head))
        return QStringLiteral("srt");
    if (trimmed.startsWith(u'{') &&
        icutext::contains(QStringLiteral(R"(^\{\d+\}\{\d*\})"), trimmed.toString()))
        return QStringLiteral("sub");
    if (trimmed.startsWith(u"<sami", Qt::CaseInsensitive)) return QStringLiteral("smi");
    if (name) {
        const qsizetype slash = name->lastIndexOf(u'/');
        const qsizetype dot = name->lastIndexOf(u'.');
        if (dot > slash + 1) {
            const QString ext = name->mid(dot + 1).toLower();
            for (const char* known : {"srt", "ass", "ssa", "vtt", "sub", "smi", "txt"})
                if (ext == QLatin1String(known)) return ext;
        }
    }
    return QStringLiteral("srt");
}

Outcome<Result> transcode(QByteArrayView data, const std::optional<QString>& language,
                          const std::optional<QString>& encodingHint,
                          const std::optional<QString>& nameHint) {
    if (data.isEmpty()) return Failure::empty;
    if (data.size() > kMaxInputBytes) return Failure::tooLarge;

    auto unpacked = unpack(data);
    if (auto* f = std::get_if<Failure>(&unpacked)) return *f;
    const Unpacked& u = std::get<Unpacked>(unpacked);
    if (u.payload.isEmpty()) return Failure::empty;

    QString text = decodeText(u.payload, language, encodingHint);
    text.remove(QChar(0xFEFF));
    text.remove(QChar(0x0000));

    const QString start = text.left(2048).toLower();
    if (start.contains(u"<!doctype html") || start.contains(u"<html")) return Failure::notSubtitle;

    bool blank = true;
    for (QChar c : std::as_const(text))
        if (!c.isSpace()) {
            blank = false;
            break;
        }
    if (blank) return Failure::empty;

    Result result;
    const auto given = normalizedLanguage(language);
    if (!given) {
        result.detectedLanguage = detectScriptLanguage(text);
        if (!result.detectedLanguage) result.detectedLanguage = recognizeLanguage(text);
    }
    // A label we cannot read tells nothing: the guess decides then.
    const auto effective = given ? given : result.detectedLanguage;
    if (primaryLanguage(effective).value_or(QString()) == u"ro") text = fixRomanianLetters(text);

    result.subtitle.format = detectFormat(text, u.memberName ? u.memberName : nameHint);
    result.subtitle.text = std::move(text);
    return result;
}

}  // namespace rillow::SubtitleTranscoder
