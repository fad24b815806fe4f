// Transcoding over files made at test time: size limits, gzip and ZIP containers (including
// damaged and hostile ones), encodings, text checks, language guesses and formats.
#include "subtitles/SubtitleTranscoder.h"
#include "tests/subtitles/ArchiveFixtures.h"
#include "tests/subtitles/Printers.h"

#include <gtest/gtest.h>
#include <unicode/ucnv.h>
#include <QProcess>
#include <QTemporaryDir>

using namespace rillow;
using namespace rillow::SubtitleTranscoder;
using rillow::test::ZipMember;

namespace {

std::optional<QString> s(const char* text) {
    return QString::fromUtf8(text);
}
constexpr std::nullopt_t none = std::nullopt;

QByteArray encode(const QString& text, const char* encoding) {
    UErrorCode status = U_ZERO_ERROR;
    UConverter* conv = ucnv_open(encoding, &status);
    ucnv_setFromUCallBack(conv, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    QByteArray out(text.size() * 4 + 16, '\0');
    const int32_t n = ucnv_fromUChars(conv, out.data(), int32_t(out.size()),
                                      reinterpret_cast<const UChar*>(text.utf16()),
                                      int32_t(text.size()), &status);
    ucnv_close(conv);
    EXPECT_TRUE(U_SUCCESS(status)) << encoding << " " << u_errorName(status);
    out.resize(n);
    return out;
}

const QString kSrt = QStringLiteral("1\n00:00:01,000 --> 00:00:02,500\nHello there.\n\n");
const QString kAss = QStringLiteral(
    "[Script Info]\nTitle: x\n\n[Events]\nDialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,Hi\n");
const QString kRussian = QString::fromUtf8(
    "1\n00:00:01,000 --> 00:00:03,000\nПривет! Как у тебя дела сегодня?\n\n"
    "2\n00:00:04,000 --> 00:00:06,000\nМы должны уйти отсюда, пока не стало слишком поздно.\n\n"
    "3\n00:00:07,000 --> 00:00:09,000\nЯ не знаю, что сказать. Это очень странная история.\n\n"
    "4\n00:00:10,000 --> 00:00:12,000\nПодожди меня у входа, я скоро вернусь.\n\n");

Result ok(const Outcome<Result>& outcome) {
    if (const Failure* f = std::get_if<Failure>(&outcome)) {
        ADD_FAILURE() << "failed with " << int(*f);
        return {};
    }
    return std::get<Result>(outcome);
}

std::optional<Failure> failure(const Outcome<Result>& outcome) {
    if (const Failure* f = std::get_if<Failure>(&outcome)) return *f;
    return std::nullopt;
}

Outcome<Result> run(const QByteArray& data, std::optional<QString> language = none,
                    std::optional<QString> hint = none, std::optional<QString> name = none) {
    return transcode(data, language, hint, name);
}

}  // namespace

TEST(SubtitleTranscoder, SizeLimits) {
    EXPECT_EQ(failure(run(QByteArray())), Failure::empty);
    QByteArray big = kSrt.toUtf8();
    big.append(QByteArray(kMaxInputBytes - big.size(), 'a'));
    ASSERT_EQ(big.size(), 25'165'824);
    EXPECT_EQ(ok(run(big)).subtitle.format, QStringLiteral("srt"));
    big.append('a');
    EXPECT_EQ(failure(run(big)), Failure::tooLarge);
}

TEST(SubtitleTranscoder, Gzip) {
    const QByteArray text = kSrt.toUtf8();
    test::GzipOptions all;
    all.name = QByteArray("movie.srt");
    all.extra = QByteArray("ab\x01\x00xyz", 7);
    all.comment = QByteArray("made for a test");
    all.headerCrc = true;
    for (const test::GzipOptions& o : {test::GzipOptions{}, all}) {
        const Result r = ok(run(test::gzip(text, o)));
        EXPECT_EQ(r.subtitle.text, kSrt);
        EXPECT_EQ(r.subtitle.format, QStringLiteral("srt"));
    }

    test::GzipOptions method;
    method.method = 7;
    QByteArray truncated = test::gzip(text);
    truncated.chop(12);  // the stream loses its end
    QByteArray badExtra = test::gzip(text, all);
    badExtra[10] = char(0xFF);  // FEXTRA length far beyond the data
    badExtra[11] = char(0xFF);
    test::GzipOptions unterminated;
    unterminated.name = QByteArray(40, 'n');
    QByteArray noZero = test::gzip(QByteArray(), unterminated);
    noZero.truncate(10 + 30);  // the name never ends
    QByteArray shortHeader(
        "\x1f\x8b\x08\x00\0\0\0\0\0\x03"
        "\x03\x00"
        "\0\0\0\0\0\0\0",
        19);
    shortHeader[3] = 0x02;  // FHCRC: the header takes 12 of the 19 bytes, leaving fewer than 9
    const std::pair<const char*, QByteArray> broken[] = {
        {"method byte", test::gzip(text, method)},
        {"truncated stream", truncated},
        {"extra past the end", badExtra},
        {"unterminated name", noZero},
        {"header leaves too little", shortHeader},
        {"garbage stream",
         QByteArray("\x1f\x8b\x08\x00\0\0\0\0\0\x03\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff", 20)},
    };
    for (const auto& [what, data] : broken) {
        SCOPED_TRACE(what);
        EXPECT_EQ(failure(run(data)), Failure::corruptArchive);
    }
}

TEST(SubtitleTranscoder, InflatedOutputIsCapped) {
    // 30 MiB of blanks compress to a few tens of kilobytes.
    const QByteArray bomb(30 * 1024 * 1024, ' ');
    const QByteArray gz = test::gzip(bomb);
    ASSERT_LT(gz.size(), 1024 * 1024);
    EXPECT_EQ(failure(run(gz)), Failure::tooLarge);
    EXPECT_EQ(failure(run(test::zip({{"bomb.srt", bomb}}))), Failure::tooLarge);
    // Exactly the cap is still accepted.
    QByteArray atCap = kSrt.toUtf8();
    atCap.append(QByteArray(kMaxInflatedBytes - atCap.size(), 'x'));
    EXPECT_EQ(std::get<QByteArray>(inflateRaw(test::deflateRaw(atCap))).size(), kMaxInflatedBytes);
}

TEST(SubtitleTranscoder, ZipMemberChoice) {
    const QByteArray srt = kSrt.toUtf8();
    // Only unusable members.
    EXPECT_EQ(failure(run(test::zip(
                  {{"__MACOSX/._movie.srt", srt}, {"movie.nfo", "info"}, {"Subs/", ""}}))),
              Failure::archiveWithoutSubtitle);

    // ".srt" beats ".ass"; its format comes from its content (here ASS), name hint "b.srt".
    Result r = ok(run(test::zip({{"a.ass", kAss.toUtf8()}, {"Subs/b.srt", kAss.toUtf8()}}), none,
                      none, s("ignored.txt")));
    EXPECT_EQ(r.subtitle.format, QStringLiteral("ass"));
    r = ok(run(test::zip({{"a.ass", kAss.toUtf8()}, {"b.srt", QByteArrayLiteral("{1}Hi")}}), none,
               none, s("ignored.txt")));
    EXPECT_EQ(r.subtitle.format, QStringLiteral("srt"));  // by the member's name, not the hint
    EXPECT_EQ(r.subtitle.text, QStringLiteral("{1}Hi"));

    // Two ".srt": the larger compressed size wins, wherever it is.
    const QByteArray longer =
        (kSrt + QStringLiteral("2\n00:00:03,000 --> 00:00:04,000\nMore.\n")).toUtf8();
    r = ok(run(test::zip({{"short.srt", srt, 0}, {"long.srt", longer, 0}})));
    EXPECT_EQ(r.subtitle.text.toUtf8(), longer);

    // An encrypted ".srt" is never taken.
    ZipMember locked{"locked.srt", longer, 0};
    locked.encrypted = true;
    r = ok(run(test::zip({locked, {"plain.txt", srt, 0}})));
    EXPECT_EQ(r.subtitle.text, kSrt);
    EXPECT_EQ(failure(run(test::zip({locked}))), Failure::archiveWithoutSubtitle);

    // A gzip-compressed member is inflated twice.
    r = ok(run(test::zip({{"movie.srt", test::gzip(srt)}})));
    EXPECT_EQ(r.subtitle.text, kSrt);
    ZipMember brokenInner{"movie.srt", test::gzip(srt).left(30), 0};
    EXPECT_EQ(failure(run(test::zip({brokenInner}))), Failure::corruptArchive);
}

TEST(SubtitleTranscoder, ZipFromAnIndependentWriter) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("subs.zip"));
    QProcess python;
    python.start(QStringLiteral("python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import sys, zipfile\n"
                                 "z = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)\n"
                                 "z.writestr('__MACOSX/._a.srt', 'x' * 500)\n"
                                 "z.writestr('Movie/readme.nfo', 'hello')\n"
                                 "z.writestr('Movie/movie.en.ass', '[Script Info]\\n')\n"
                                 "z.writestr('Movie/movie.en.srt', sys.argv[2])\n"
                                 "z.comment = b'made by python'\n"
                                 "z.close()\n"),
                  path, kSrt});
    ASSERT_TRUE(python.waitForFinished(30000));
    ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const auto unpacked = unpack(file.readAll());
    ASSERT_TRUE(std::holds_alternative<Unpacked>(unpacked));
    EXPECT_EQ(std::get<Unpacked>(unpacked).memberName, s("movie.en.srt"));
    EXPECT_EQ(std::get<Unpacked>(unpacked).payload, kSrt.toUtf8());
}

TEST(SubtitleTranscoder, DamagedZip) {
    const QByteArray srt = kSrt.toUtf8();
    const QByteArray good = test::zip({{"a.srt", srt}});

    QByteArray noEnd = good;
    noEnd.replace(QByteArray("PK\x05\x06", 4), QByteArray("PK\x00\x00", 4));
    QByteArray cdOutside = good;
    cdOutside[cdOutside.size() - 6] = char(0xF0);  // central directory offset far past the end
    QByteArray badCentral = good;
    badCentral[test::centralDirectoryOffset(good) + 2] = 'X';
    QByteArray hugeName = good;  // central name length beyond the data
    hugeName[test::centralDirectoryOffset(good) + 28] = char(0xFF);
    QByteArray dataPastEnd = good;  // compressed size beyond the data
    dataPastEnd[test::centralDirectoryOffset(good) + 23] = char(0x7F);
    dataPastEnd[18 + 3] = char(0x7F);
    ZipMember renamed{"a.srt", srt};
    renamed.localName = QByteArray("b.srt");
    ZipMember pointsAtCentral{"a.srt", srt};
    pointsAtCentral.localOffset = 5000;
    QByteArray methodMismatch = good;
    methodMismatch[8] = 0;  // local header says stored, central says deflate
    // Two central entries sharing one local header (the overlapping-member bomb).
    ZipMember first{"a.srt", srt, 0};
    ZipMember alias{"a.srt", srt, 0};
    alias.localOffset = 0;
    const std::pair<const char*, QByteArray> cases[] = {
        {"no end record", noEnd},
        {"central directory outside", cdOutside},
        {"bad central signature", badCentral},
        {"central name past the end", hugeName},
        {"member data past the end", dataPastEnd},
        {"local name disagrees", test::zip({renamed})},
        {"local header missing", test::zip({pointsAtCentral})},
        {"local method disagrees", methodMismatch},
        {"overlapping members", test::zip({first, alias})},
    };
    for (const auto& [what, data] : cases) {
        SCOPED_TRACE(what);
        const auto result = unpack(data);
        ASSERT_TRUE(std::holds_alternative<Failure>(result));
        EXPECT_EQ(std::get<Failure>(result), Failure::corruptArchive);
    }
    // Deflate data that is not DEFLATE.
    QByteArray deflated = test::zip({{"a.srt", srt, 8}});
    const qsizetype dataAt = 30 + 5;
    for (int i = 0; i < 6; ++i) deflated[dataAt + i] = char(0xFF);
    EXPECT_EQ(failure(run(deflated)), Failure::corruptArchive);
}

TEST(SubtitleTranscoder, UnicodeEncodings) {
    const QString text = QString::fromUtf8("1\n00:00:01,000 --> 00:00:02,000\nÇa va? Ünïcödé ✓\n");
    struct Case {
        const char* what;
        QByteArray bytes;
    };
    const QByteArray utf16le = encode(text, "UTF-16LE");
    const QByteArray utf16be = encode(text, "UTF-16BE");
    const Case cases[] = {
        {"UTF-8 mark", QByteArray("\xEF\xBB\xBF") + text.toUtf8()},
        {"UTF-8", text.toUtf8()},
        {"UTF-16LE mark", QByteArray("\xFF\xFE") + utf16le},
        {"UTF-16BE mark", QByteArray("\xFE\xFF") + utf16be},
        {"UTF-16LE without mark", utf16le},
        {"UTF-16BE without mark", utf16be},
        {"UTF-32LE mark", QByteArray("\xFF\xFE\x00\x00", 4) + encode(text, "UTF-32LE")},
        {"UTF-32BE mark", QByteArray("\x00\x00\xFE\xFF", 4) + encode(text, "UTF-32BE")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Result r = ok(run(c.bytes, s("fr")));
        EXPECT_EQ(r.subtitle.text, text);
        EXPECT_FALSE(r.subtitle.text.contains(QChar(0xFEFF)));
    }
    // Zero bytes and stray marks inside the text are removed.
    EXPECT_EQ(ok(run(QByteArray("Hi\0 there\xEF\xBB\xBF!", 13))).subtitle.text,
              QStringLiteral("Hi there!"));
}

TEST(SubtitleTranscoder, LegacyEncodings) {
    const QByteArray cp1251 = encode(kRussian, "windows-1251");
    // With the language: windows-1251 is first in its list.
    Result r = ok(run(cp1251, s("ru")));
    EXPECT_EQ(r.subtitle.text, kRussian);
    EXPECT_EQ(r.detectedLanguage, none);
    // Without it: every default encoding is scored and the recogniser names the language.
    r = ok(run(cp1251));
    EXPECT_EQ(r.subtitle.text, kRussian);
    EXPECT_EQ(r.detectedLanguage, s("ru"));
    // KOI8-R without a language is told apart from windows-1251.
    EXPECT_EQ(ok(run(encode(kRussian, "KOI8-R"))).subtitle.text, kRussian);

    // Czech in windows-1250 with only the addon's hint.
    const QString czech = QString::fromUtf8(
        "1\n00:00:01,000 --> 00:00:03,000\nPříliš žluťoučký kůň úpěl ďábelské ódy.\n\n"
        "2\n00:00:04,000 --> 00:00:06,000\nNevím, co ti mám říct, je to velmi zvláštní příběh.\n");
    EXPECT_EQ(ok(run(encode(czech, "windows-1250"), none, s(" CP1250 "))).subtitle.text, czech);
    EXPECT_EQ(ok(run(encode(czech, "windows-1250"), s("cs"))).subtitle.text, czech);

    // Greek, Hebrew and Japanese with their languages.
    const QString greek =
        QString::fromUtf8("Καλημέρα, τι κάνεις σήμερα; Πάμε να φύγουμε από εδώ.\n");
    EXPECT_EQ(ok(run(encode(greek, "windows-1253"), s("el"))).subtitle.text, greek);
    const QString hebrew = QString::fromUtf8("שלום, מה שלומך היום? אנחנו צריכים ללכת מכאן.\n");
    EXPECT_EQ(ok(run(encode(hebrew, "windows-1255"), s("he"))).subtitle.text, hebrew);
    const QString japanese =
        QString::fromUtf8("こんにちは、今日はどうですか？ここから出なければならない。\n");
    EXPECT_EQ(ok(run(encode(japanese, "Shift_JIS"), s("ja"))).subtitle.text, japanese);
    EXPECT_EQ(ok(run(encode(japanese, "EUC-JP"), s("ja"))).subtitle.text, japanese);
}

TEST(SubtitleTranscoder, TextChecks) {
    EXPECT_EQ(failure(run("<!DOCTYPE html><html><body>Not found</body></html>")),
              Failure::notSubtitle);
    EXPECT_EQ(failure(run((QString(100, u' ') + QStringLiteral("<HTML>")).toUtf8())),
              Failure::notSubtitle);
    // Past the first 2048 characters an HTML tag is just text.
    EXPECT_FALSE(failure(run((kSrt + QString(2100, u'x') + QStringLiteral("<html>")).toUtf8())));
    EXPECT_EQ(failure(run("\n\n \r\n\t\n")), Failure::empty);
    EXPECT_EQ(failure(run(QByteArray(20, '\0'))), Failure::empty);
}

TEST(SubtitleTranscoder, LanguageGuesses) {
    const QString hangul = QString::fromUtf8(
        "1\n00:00:01,000 --> 00:00:02,000\n안녕하세요, 오늘 어떻게 지내세요? 여기서 나가야 "
        "해요.\n");
    EXPECT_EQ(ok(run(hangul.toUtf8())).detectedLanguage, s("ko"));
    EXPECT_EQ(ok(run(hangul.toUtf8(), s("en"))).detectedLanguage, none);
    // An unreadable label counts as none.
    EXPECT_EQ(ok(run(hangul.toUtf8(), s("n/a"))).detectedLanguage, s("ko"));
    EXPECT_EQ(detectScriptLanguage(QString::fromUtf8("これはテストです。漢字も少し。")), s("ja"));
    EXPECT_EQ(detectScriptLanguage(QString::fromUtf8("我们必须离开这里，太晚了。")), s("zh"));
    EXPECT_EQ(detectScriptLanguage(QStringLiteral("Plain English text.")), none);
    EXPECT_EQ(detectScriptLanguage(QString()), none);

    const QString english = QStringLiteral(
        "1\n00:00:01,000 --> 00:00:03,000\nWe have to leave this place before it is too late.\n\n"
        "2\n00:00:04,000 --> 00:00:06,000\nI don't know what to tell you, it is a strange "
        "story.\n\n"
        "3\n00:00:07,000 --> 00:00:09,000\nWait for me at the door, I will be back very soon.\n");
    EXPECT_EQ(ok(run(english.toUtf8())).detectedLanguage, s("en"));
    EXPECT_EQ(recognizeLanguage(QStringLiteral("1\n2\n")), none);
}

TEST(SubtitleTranscoder, RomanianLetters) {
    const QString legacy =
        QString::fromUtf8("Aşa aţi spus. ŞI ŢARA. s\u0327i t\u0327ara S\u0327T\u0327");
    const QString fixed = QString::fromUtf8("Așa ați spus. ȘI ȚARA. și țara ȘȚ");
    EXPECT_EQ(fixRomanianLetters(legacy), fixed);
    EXPECT_EQ(ok(run(legacy.toUtf8(), s("ro"))).subtitle.text, fixed);
    EXPECT_EQ(ok(run(legacy.toUtf8(), s("mol"))).subtitle.text, fixed);
    // Without a language, ă marks the text as Romanian.
    const QString noLanguage = QString::fromUtf8("Băiatul a spus aşa.");
    const Result r = ok(run(noLanguage.toUtf8()));
    EXPECT_EQ(r.detectedLanguage, s("ro"));
    EXPECT_EQ(r.subtitle.text, QString::fromUtf8("Băiatul a spus așa."));
    EXPECT_EQ(detectScriptLanguage(QString::fromUtf8("Baia\u0306t")), s("ro"));  // decomposed ă
    // Turkish keeps its ş.
    EXPECT_EQ(ok(run(QString::fromUtf8("Işık aşk").toUtf8(), s("tr"))).subtitle.text,
              QString::fromUtf8("Işık aşk"));
}

TEST(SubtitleTranscoder, Formats) {
    struct Case {
        const char* text;
        std::optional<QString> name;
        const char* format;
    };
    const Case cases[] = {
        {"\n\n  WEBVTT\n\n00:01.000 --> 00:02.000\nHi", none, "vtt"},
        {"webvtt\n", none, "srt"},  // the mark is case-sensitive
        {"[Script Info]\nScriptType: v4.00\n", s("x.ssa"), "ass"},
        {"junk\n[SCRIPT INFO]\n", none, "ass"},
        {"1\n0:00:01.5 --> 0:00:02.000\nHi", none, "srt"},
        {"1\n00:00:01,000-->00:00:02,000\nHi", s("x.vtt"), "srt"},
        {"  {100}{200}Hello", none, "sub"},
        {"{100}{}Hello", none, "sub"},
        {"{100}Hello", s("x.txt"), "txt"},
        {"{100}Hello", s("dir.v2/x"), "srt"},
        {"<SAMI><BODY>", none, "smi"},
        {"Some text", s("Movie.SUB"), "sub"},
        {"Some text", s("x.nfo"), "srt"},
        {"Some text", none, "srt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(detectFormat(QString::fromUtf8(c.text), c.name), QString::fromLatin1(c.format));
    }
    // Through transcode, the name hint tells the format of unrecognised text.
    EXPECT_EQ(ok(run("Just words", none, none, s("x.txt"))).subtitle.format, QStringLiteral("txt"));
}

TEST(SubtitleTranscoder, EncodingHints) {
    const std::pair<const char*, const char*> cases[] = {
        {"CP1251", "windows-1251"},
        {" cp1250 ", "windows-1250"},
        {"cp936", "cp936"},
        {"CP850", "CP850"},  // N <= 873 keeps the name (case folded)
        {"ascii", "us-ascii"},
        {"UTF-8", "utf-8"},
        {"koi8-r", "koi8-r"},
        {"cp949", "windows-949"},
        {"", ""},
        {"no-such-charset", ""},
    };
    for (const auto& [hint, expected] : cases) {
        SCOPED_TRACE(hint);
        const auto got = encodingFromHint(s(hint));
        if (*expected)
            EXPECT_EQ(got, QString::fromLatin1(expected).toLower());
        else
            EXPECT_EQ(got, none);
    }
    EXPECT_EQ(encodingFromHint(none), none);
}

TEST(SubtitleTranscoder, EncodingListsAndScores) {
    EXPECT_EQ(legacyEncodings(s("ru")).first(), QStringLiteral("windows-1251"));
    EXPECT_EQ(legacyEncodings(s("zh-TW")),
              (QStringList{QStringLiteral("Big5-HKSCS"), QStringLiteral("GB18030")}));
    EXPECT_EQ(legacyEncodings(s("zh")),
              (QStringList{QStringLiteral("GB18030"), QStringLiteral("Big5-HKSCS")}));
    EXPECT_EQ(legacyEncodings(s("kk")),
              (QStringList{QStringLiteral("windows-1252"), QStringLiteral("ISO-8859-15")}));
    EXPECT_EQ(defaultEncodings().size(), 13);
    EXPECT_EQ(scriptFamily(s("kk")), ScriptClass::cyrillic);
    EXPECT_EQ(scriptFamily(s("fr")), ScriptClass::latin);
    EXPECT_EQ(scriptFamily(s("xx")), ScriptClass::none);
    EXPECT_EQ(scriptClass(U'ж'), ScriptClass::cyrillic);
    EXPECT_EQ(scriptClass(U'é'), ScriptClass::latin);
    EXPECT_EQ(scriptClass(U'한'), ScriptClass::hangul);
    EXPECT_EQ(scriptClass(U'ა'), ScriptClass::other);

    // The right decoding of Russian scores above the windows-1252 misreading, with or without
    // the language.
    const QByteArray bytes = encode(kRussian, "windows-1251");
    const QString wrong = QString::fromLatin1(bytes);
    for (const auto& language : {s("ru"), std::optional<QString>()}) {
        EXPECT_GT(textQuality(kRussian, language), textQuality(wrong, language));
    }
    EXPECT_EQ(textQuality(QStringLiteral("Ab"), s("en")), 0);
    EXPECT_EQ(textQuality(QString::fromUtf8("aB"), s("en")), -1);  // case switch
    EXPECT_EQ(textQuality(QString::fromUtf8("\u0001"), none), -12);
    EXPECT_EQ(textQuality(QString::fromUtf8("±"), none), -2);
    EXPECT_EQ(textQuality(QString::fromUtf8("жa"), s("ru")), 2 - 3);  // script switch
}

TEST(SubtitleTranscoder, LanguageSample) {
    const QString text = QStringLiteral(
        "1\r\n00:00:01,000 --> 00:00:02,000\r\nFirst line\r\n\r\n"
        "[Events]\nJOHN: speaker label\nNot a label: all letters\nDr. Who: kept, a dot\n"
        "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,Text, with a comma\n"
        "Dialogue: short,one\n12345\n\u2028Last\u2029");
    EXPECT_EQ(languageSample(text),
              QStringLiteral("First line\nDr. Who: kept, a dot\nText, with a comma\n"
                             "one\nLast\n"));
    // Stops soon after 2000 characters.
    QString many;
    for (int i = 0; i < 500; ++i) many += QStringLiteral("Some words here\n");
    const QString sample = languageSample(many);
    EXPECT_GT(sample.size(), 2000);
    EXPECT_LE(sample.size(), 2000 + 16);
}
