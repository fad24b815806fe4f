// The subtitle addon client against a loopback addon server (manifest checks, list requests,
// downloads), its pure parts as tables, and the persisted subtitle settings.
#include "platform/UserDefaults.h"
#include "subtitles/SubtitleAddonClient.h"
#include "subtitles/SubtitleSettingsStore.h"
#include "tests/subtitles/Printers.h"
#include "tests/support/TempHome.h"
#include "tests/support/TestHttpServer.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>
#include <QElapsedTimer>
#include <QSignalSpy>

using namespace rillow;
using test::TestResponse;

namespace rillow {
void PrintTo(const SubtitleAddonError& e, std::ostream* os) {
    *os << "error " << int(e.kind()) << " " << e.name().toStdString();
}
void PrintTo(const SubtitleAddonInfo& i, std::ostream* os) {
    *os << "{" << i.baseURL.toStdString() << ", " << i.id.toStdString() << ", "
        << i.name.toStdString() << "}";
}
void PrintTo(const SubtitleCandidate& c, std::ostream* os) {
    auto opt = [](const auto& v) {
        if (!v) return std::string("-");
        if constexpr (std::is_same_v<std::decay_t<decltype(*v)>, QString>)
            return v->toStdString();
        else
            return std::to_string(*v);
    };
    *os << "{id " << c.id.toStdString() << " url " << c.url.toString().toStdString() << " lang "
        << opt(c.language) << "/" << c.rawLanguage.toStdString() << " release "
        << opt(c.releaseName) << " file " << opt(c.fileName) << " group " << opt(c.releaseGroup)
        << " enc " << opt(c.encodingHint) << " hash " << c.isHashMatch << " ai " << c.isAITranslated
        << " hi " << c.isHearingImpaired << " fps " << opt(c.fps) << " s " << opt(c.season) << " e "
        << opt(c.episode) << " order " << c.order << "}";
}
}  // namespace rillow

namespace {

// A client whose requests give up after a second without data.
SubtitleAddonClient quickClient() {
    HttpOptions options = SubtitleAddonClient::sessionOptions();
    options.requestTimeoutMs = 1'000;
    options.resourceTimeoutMs = 2'000;
    return SubtitleAddonClient(std::make_shared<HttpSession>(options));
}

const char* kSubtitleManifest =
    R"({"id":"org.example.subs","name":"  Open Subs \n","version":"1.0.0",)"
    R"("resources":["subtitles"],"types":["movie","series"]})";

class AddonServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.route("/subs/manifest.json", TestResponse::json(kSubtitleManifest));
        server.route("/object/manifest.json",
                     TestResponse::json(R"({"id":"o","name":"Object","resources":[)"
                                        R"({"name":"subtitles","types":["movie"]}]})"));
        server.route("/streams/manifest.json",
                     TestResponse::json(R"({"id":"s","name":"Torrents","resources":)"
                                        R"(["stream","catalog",{"name":"meta"}],)"
                                        R"("behaviorHints":{"configurationRequired":true}})"));
        server.route("/configure/manifest.json",
                     TestResponse::json(R"({"id":"c","name":"Needs Setup","resources":)"
                                        R"([{"name":"subtitles"}],)"
                                        R"("behaviorHints":{"configurationRequired":true}})"));
        server.route("/hint-text/manifest.json",
                     TestResponse::json(R"({"id":"h","name":"Hinted","resources":["subtitles"],)"
                                        R"("behaviorHints":{"configurationRequired":"true"}})"));
        server.route("/no-name/manifest.json",
                     TestResponse::json(R"({"id":"org.noname","resources":["subtitles"]})"));
        server.route(
            "/blank-name/manifest.json",
            TestResponse::json(R"({"id":"org.blank","name":" \n\t ","resources":["subtitles"]})"));
        server.route(
            "/number-name/manifest.json",
            TestResponse::json(R"({"id":"org.number","name":42,"resources":["subtitles"]})"));
        server.route("/not-json/manifest.json", TestResponse::text("<html>hello</html>"));
        server.route("/array/manifest.json", TestResponse::json("[]"));
        server.route("/no-id/manifest.json", TestResponse::json(R"({"resources":["subtitles"]})"));
        server.route("/number-id/manifest.json",
                     TestResponse::json(R"({"id":7,"resources":["subtitles"]})"));
        server.route("/resources-object/manifest.json",
                     TestResponse::json(R"({"id":"x","resources":{"name":"subtitles"}})"));
        server.route("/server-error/manifest.json",
                     TestResponse::withStatus(500, kSubtitleManifest));
        TestResponse stall;
        stall.stall = true;
        server.route("/stall/manifest.json", stall);
    }

    test::TestHttpServer server;
};

}  // namespace

TEST(SubtitleAddonBaseURL, Normalisation) {
    struct Case {
        QString text;
        std::optional<QString> base;
    };
    const std::vector<Case> cases = {
        {"stremio://addon.example/abc/manifest.json", "https://addon.example/abc"},
        {"STREMIO://Addon.Example/AbC/manifest.json", "https://Addon.Example/AbC"},
        {"  StReMiO://addon.example/x%7B%22a%22%7D/manifest.json\n",
         "https://addon.example/x%7B%22a%22%7D"},
        {"https://addon.example/abc/", "https://addon.example/abc"},
        {"https://addon.example/abc///", "https://addon.example/abc"},
        {"http://addon.example/abc/MANIFEST.JSON?lang=en", "http://addon.example/abc"},
        {"http://addon.example/abc/manifest.json/more/manifest.json", "http://addon.example/abc"},
        {"\t http://addon.example \n", "http://addon.example"},
        {"stremio:/addon.example/manifest.json", std::nullopt},
        {"addon.example/manifest.json", std::nullopt},
        {"ftp://addon.example/manifest.json", std::nullopt},
        {"HTTPS://addon.example/manifest.json", std::nullopt},  // compared as written
        {"   ", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SubtitleAddonClient::normalizedAddonBaseURL(c.text), c.base)
            << c.text.toStdString();
}

TEST(SubtitleAddonErrors, MessagesAndEquality) {
    using E = SubtitleAddonError;
    EXPECT_EQ(E::notSubtitleAddon(QStringLiteral("Torrentio")).message(),
              QStringLiteral("“Torrentio” doesn't provide subtitles — it looks like a stream or "
                             "catalog addon."));
    EXPECT_EQ(E::needsConfiguration(QStringLiteral("Subs %1")).message(),
              QStringLiteral("“Subs %1” needs to be configured first. Open its configure page, "
                             "choose your languages, and paste the URL it gives you."));
    EXPECT_EQ(E::invalidURL().message(),
              QStringLiteral("That isn't a web address. Paste the addon's manifest URL."));
    EXPECT_EQ(E::unreachable().message(),
              QStringLiteral("Couldn't reach the addon. Check the URL and your connection."));
    EXPECT_EQ(E::notAnAddon().message(),
              QStringLiteral("That address doesn't serve a Stremio addon manifest."));
    EXPECT_EQ(E::needsConfiguration(QStringLiteral("A")),
              E::needsConfiguration(QStringLiteral("A")));
    EXPECT_NE(E::needsConfiguration(QStringLiteral("A")),
              E::needsConfiguration(QStringLiteral("B")));
    EXPECT_NE(E::needsConfiguration(QStringLiteral("A")), E::notSubtitleAddon(QStringLiteral("A")));
    EXPECT_NE(E::unreachable(), E::notAnAddon());
}

TEST_F(AddonServerTest, ValidateAcceptsSubtitleAddonsUnderTheirNames) {
    const QString base = server.baseUrl();
    struct Case {
        QString text;
        SubtitleAddonInfo expected;
    };
    const std::vector<Case> cases = {
        {base + "/subs/manifest.json", {base + "/subs", "org.example.subs", "Open Subs"}},
        {"  " + base + "/subs/ \n", {base + "/subs", "org.example.subs", "Open Subs"}},
        {base + "/subs///", {base + "/subs", "org.example.subs", "Open Subs"}},
        {base + "/subs/Manifest.JSON?token=abc#x",
         {base + "/subs", "org.example.subs", "Open Subs"}},
        {base + "/subs/manifest.json/configure", {base + "/subs", "org.example.subs", "Open Subs"}},
        {base + "/object/manifest.json", {base + "/object", "o", "Object"}},
        {base + "/hint-text", {base + "/hint-text", "h", "Hinted"}},  // not the boolean true
        {base + "/no-name/manifest.json", {base + "/no-name", "org.noname", "org.noname"}},
        {base + "/blank-name/manifest.json", {base + "/blank-name", "org.blank", "org.blank"}},
        {base + "/number-name/manifest.json", {base + "/number-name", "org.number", "org.number"}},
    };
    const SubtitleAddonClient client = quickClient();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        const auto result = test::await(client.validate(c.text));
        ASSERT_TRUE(std::holds_alternative<SubtitleAddonInfo>(result))
            << std::get<SubtitleAddonError>(result).message().toStdString();
        EXPECT_EQ(std::get<SubtitleAddonInfo>(result), c.expected);
    }
    EXPECT_EQ(server.requestCount("/subs/manifest.json"), 5) << "always the manifest itself";
}

TEST_F(AddonServerTest, ValidateReportsEachFailure) {
    const QString base = server.baseUrl();
    using E = SubtitleAddonError;
    struct Case {
        QString text;
        E expected;
    };
    const std::vector<Case> cases = {
        {base + "/streams/manifest.json", E::notSubtitleAddon("Torrents")},
        {base + "/configure/manifest.json", E::needsConfiguration("Needs Setup")},
        {base + "/missing/manifest.json", E::notAnAddon()},  // 404
        {base + "/server-error/manifest.json", E::notAnAddon()},
        {base + "/not-json/manifest.json", E::notAnAddon()},
        {base + "/array/manifest.json", E::notAnAddon()},
        {base + "/no-id/manifest.json", E::notAnAddon()},
        {base + "/number-id/manifest.json", E::notAnAddon()},
        {base + "/resources-object/manifest.json", E::notAnAddon()},
        {"", E::invalidURL()},
        {"not an address", E::invalidURL()},
        {"ftp://127.0.0.1/manifest.json", E::invalidURL()},
        {"https://", E::invalidURL()},
        {"http://exa mple.test/manifest.json", E::invalidURL()},
    };
    const SubtitleAddonClient client = quickClient();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        const auto result = test::await(client.validate(c.text));
        ASSERT_TRUE(std::holds_alternative<E>(result));
        EXPECT_EQ(std::get<E>(result), c.expected);
    }
}

TEST_F(AddonServerTest, ASilentOrAbsentServerIsUnreachableWithinTheTimeOut) {
    int closedPort = 0;
    {
        test::TestHttpServer gone;
        closedPort = gone.port();
    }
    const SubtitleAddonClient client = quickClient();
    for (const QString& text :
         {server.baseUrl() + "/stall/manifest.json",
          QStringLiteral("http://127.0.0.1:%1/manifest.json").arg(closedPort)}) {
        SCOPED_TRACE(text.toStdString());
        QElapsedTimer clock;
        clock.start();
        const auto result = test::await(client.validate(text));
        EXPECT_LT(clock.elapsed(), 2'500) << "the 1 s request time-out ends it";
        ASSERT_TRUE(std::holds_alternative<SubtitleAddonError>(result));
        EXPECT_EQ(std::get<SubtitleAddonError>(result), SubtitleAddonError::unreachable());
    }
    EXPECT_EQ(server.requestCount("/stall/manifest.json"), 1);
    const HttpOptions options = SubtitleAddonClient::sessionOptions();
    EXPECT_EQ(options.requestTimeoutMs, 12'000);
    EXPECT_EQ(options.resourceTimeoutMs, 30'000);
}

TEST(SubtitleAddonRequest, SubtitlesURL) {
    using C = SubtitleAddonClient;
    EXPECT_EQ(C::contentType(std::nullopt, std::nullopt), QStringLiteral("movie"));
    EXPECT_EQ(C::contentType(1, std::nullopt), QStringLiteral("series"));
    EXPECT_EQ(C::contentType(std::nullopt, 4), QStringLiteral("series"));
    EXPECT_EQ(C::videoID("tt0903747", 1, 2), QStringLiteral("tt0903747:1:2"));
    EXPECT_EQ(C::videoID("tt0903747", 10, std::nullopt), QStringLiteral("tt0903747"));
    EXPECT_EQ(C::videoID("tt0111161", std::nullopt, std::nullopt), QStringLiteral("tt0111161"));

    struct Case {
        QString base, type, id;
        std::optional<QString> hash;
        std::optional<qint64> size;
        std::optional<QByteArray> encoded;  // as sent
    };
    const QString b = QStringLiteral("https://subs.example/cfg");
    const std::vector<Case> cases = {
        {b, "movie", "tt0111161", std::nullopt, std::nullopt,
         "https://subs.example/cfg/subtitles/movie/tt0111161.json"},
        {b, "series", "tt0903747:1:2", std::nullopt, std::nullopt,
         "https://subs.example/cfg/subtitles/series/tt0903747%3A1%3A2.json"},
        {b, "movie", "tt0111161", "00ab12cd34ef5678", 1234567890,
         "https://subs.example/cfg/subtitles/movie/tt0111161/"
         "videoHash=00ab12cd34ef5678&videoSize=1234567890.json"},
        {b, "movie", "tt0111161", "8e245d9679d31e12", std::nullopt,
         "https://subs.example/cfg/subtitles/movie/tt0111161/videoHash=8e245d9679d31e12.json"},
        {b, "movie", "a b/é&c=-_.!~*'()", std::nullopt, std::nullopt,
         "https://subs.example/cfg/subtitles/movie/a%20b%2F%C3%A9%26c%3D-_.!~*'().json"},
        {"not a base", "movie", "tt1", std::nullopt, std::nullopt, std::nullopt},
        {"", "movie", "tt1", std::nullopt, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id.toStdString());
        const auto url = C::subtitlesURL(c.base, c.type, c.id, c.hash, c.size);
        ASSERT_EQ(url.has_value(), c.encoded.has_value());
        if (url) {
            EXPECT_EQ(url->toEncoded(), *c.encoded);
        }
    }
    EXPECT_EQ(C::encodeComponent(QStringLiteral("Ünïcode 1:2")), QStringLiteral("Ünïcode%201%3A2"));
}

namespace {

SubtitleCandidate candidate(QString id, QString url, int order) {
    SubtitleCandidate c;
    c.id = std::move(id);
    c.url = QUrl(url);
    c.order = order;
    return c;
}

QList<SubtitleCandidate> parse(const char* json) {
    return SubtitleAddonClient::parseCandidates(QByteArray(json));
}

}  // namespace

TEST(ParseCandidates, ListRules) {
    struct Case {
        const char* name;
        const char* json;
        QList<SubtitleCandidate> expected;
    };
    const std::vector<Case> cases = {
        {"a non-http URL is skipped and later entries keep their order",
         R"j({"subtitles":[{"id":"a","url":"ftp://s.example/a.srt"},
                          {"id":"b","url":"https://s.example/b.srt"},
                          {"id":"c","url":"javascript:alert(1)"},
                          {"id":"d","url":"HTTP://s.example/d.srt"},
                          {"id":"e"},
                          {"id":"f","url":"  http://s.example/f.srt "}]})j",
         {
        candidate("b", "https://s.example/b.srt", 1), candidate("d", "http://s.example/d.srt", 3),
            candidate("f", "http://s.example/f.srt", 5)
    }
}
,
    {"duplicate ids: the first stays",
     R"({"subtitles":[{"id":"x","url":"https://s.example/1.srt"},
                          {"id":"x","url":"https://s.example/2.srt"},
                          {"url":"https://s.example/3.srt"},
                          {"url":"https://s.example/3.srt"},
                          {"id":12345,"url":"https://s.example/4.srt"}]})",
     {candidate("x", "https://s.example/1.srt", 0),
      candidate("https://s.example/3.srt", "https://s.example/3.srt", 2),
      candidate("12345", "https://s.example/4.srt", 4)}},
    {"an element that is not an object empties the list",
     R"({"subtitles":[{"id":"a","url":"https://s.example/a.srt"}, 3]})",
     {}},
    {"no subtitles array", R"({"subtitles":{"id":"a","url":"https://s.example/a.srt"}})", {}},
    {"not an object", R"([{"id":"a","url":"https://s.example/a.srt"}])", {}},
    {"not JSON", "<html>", {}}, {"empty", R"({"subtitles":[]})", {}},
}
;
for (const Case& c : cases) EXPECT_EQ(parse(c.json), c.expected) << c.name;
}

TEST(ParseCandidates, EntryFields) {
    // Each case is one entry; fields not named keep their defaults.
    struct Case {
        const char* name;
        const char* entry;  // without the "url"
        std::function<void(SubtitleCandidate&)> expect;
    };
    const std::vector<Case> cases = {
        {"fpsMilli", R"("fpsMilli":23976)", [](auto& c) {
        c.fps = 23.976; }},
        {"fpsMilli 0 falls back to fps", R"("fpsMilli":0,"fps":25)", [](auto& c) {
        c.fps = 25; }},
        {"fpsMilli as text", R"("fpsMilli":"24000")", [](auto& c) {
        c.fps = 24; }},
        {"fps not above 0", R"("fps":0)", [](auto&) {}},
        {"fps as text is not a number", R"("fps":"25")", [](auto&) {}},
        {"season 0 is none", R"("season":0,"episode":3)", [](auto& c) {
        c.episode = 3; }},
        {"season and episode as text", R"("season":"+2","episode":"07")",
         [](auto& c) {
        c.season = 2;
        c.episode = 7;
         }},
        {"text that is not wholly an integer", R"("season":"2x","episode":"-1")", [](auto&) {}},
        {"m = h is a hash match", R"("m":"h")", [](auto& c) {
        c.isHashMatch = true; }},
        {"m other than h", R"("m":"H","hashMatch":false)", [](auto&) {}},
        {"hash flags", R"("moviehash_match":"Yes")", [](auto& c) {
        c.isHashMatch = true; }},
        {"machine-translated language label",
         R"j("lang":"English (machine translated)")j",
         [](auto& c) {
        c.rawLanguage = "English (machine translated)";
        c.language = "en";
        c.isAITranslated = true;
         }},
        {"AI in brackets",
         R"("lang":"eng [AI]")",
         [](auto& c) {
        c.rawLanguage = "eng [AI]";
        c.language = "en";
        c.isAITranslated = true;
         }},
        {"auto-translated label",
         R"("lang":"fre","label":"Auto-translated from English")",
         [](auto& c) {
        c.rawLanguage = "fre";
        c.language = "fr";
        c.releaseName = "Auto-translated from English";
        c.isAITranslated = true;
         }},
        {"machine translation flag",
         R"("lang":"English","machine_translated":"TRUE")",
         [](auto& c) {
        c.rawLanguage = "English";
        c.language = "en";
        c.isAITranslated = true;
         }},
        {"no translation word inside another word",
         R"("lang":"English","label":"Rain Translation")",
         [](auto& c) {
        c.rawLanguage = "English";
        c.language = "en";
        c.releaseName = "Rain Translation";
         }},
        {"unrecognised language",
         R"j("language":"Klingonese (fan)")j",
         [](auto& c) {
        c.rawLanguage = "Klingonese (fan)"; }},
        {"string lookups pass over blanks and take numbers",
         R"("movieReleaseName":"  ","releaseName":" Film.2019.1080p.WEB-DL-GRP ",)"
         R"("label":"ignored","subtitleFileName":"","fileName":"film.srt",)"
         R"("release_group":2019,"SubEncoding":"CP1252")",
         [](auto& c) {
        c.releaseName = "Film.2019.1080p.WEB-DL-GRP";
        c.fileName = "film.srt";
        c.releaseGroup = "2019";
        c.encodingHint = "CP1252";
         }},
        {"hearing impaired flag", R"("hi":true)", [](auto& c) {
        c.isHearingImpaired = true; }},
        {"hearing impaired as text", R"("sdh":"1")", [](auto& c) {
        c.isHearingImpaired = true; }},
        {"SDH as the group",
         R"("group":"sdh")",
         [](auto& c) {
        c.releaseGroup = "sdh";
        c.isHearingImpaired = true;
         }},
        {"HI in the file name",
         R"("file_name":"Film.2019.HI.srt")",
         [](auto& c) {
        c.fileName = "Film.2019.HI.srt";
        c.isHearingImpaired = true;
         }},
        {"SDH in the release name",
         R"("release":"Film 2019 [SDH]")",
         [](auto& c) {
        c.releaseName = "Film 2019 [SDH]";
        c.isHearingImpaired = true;
         }},
        {"hi inside a word is not hearing impaired",
         R"("filename":"Hiking.2019.srt","hearingImpaired":false)",
         [](auto& c) {
        c.fileName = "Hiking.2019.srt"; }},
    };
    for (const Case& c : cases) {
        const QByteArray json =
            QByteArray(R"({"subtitles":[{"id":"s","url":"https://s.example/s.srt",)") + c.entry +
            "}]}";
        SubtitleCandidate expected = candidate("s", "https://s.example/s.srt", 0);
        c.expect(expected);
        const auto list = SubtitleAddonClient::parseCandidates(json);
        ASSERT_EQ(list.size(), 1) << c.name;
        EXPECT_EQ(list[0], expected) << c.name;
    }
}

TEST_F(AddonServerTest, ListingAndDownloading) {
    const QString list = R"({"subtitles":[{"id":"1","url":")" + server.url("/files/one.srt") +
                         R"(","lang":"eng","m":"h"},{"id":"2","url":")" +
                         server.url("/files/missing.srt") + R"("}]})";
    const std::string episodePath =
        "/subs/subtitles/series/tt0903747%3A1%3A2/"
        "videoHash=00ab12cd34ef5678&videoSize=1234567.json";
    server.route(episodePath, TestResponse::json(list.toStdString()));
    server.route("/subs/subtitles/movie/tt1.json",
                 TestResponse::withStatus(500, list.toStdString()));
    server.route("/subs/subtitles/movie/tt2.json", TestResponse::text("not json"));
    server.route("/files/one.srt", TestResponse::text("1\n00:00:01,000 --> 00:00:02,000\nHi\n"));
    TestResponse stall;
    stall.stall = true;
    server.route("/files/stall.srt", stall);

    const SubtitleAddonClient client = quickClient();
    const QString base = server.baseUrl() + "/subs";
    const auto url =
        SubtitleAddonClient::subtitlesURL(base, SubtitleAddonClient::contentType(1, 2),
                                          SubtitleAddonClient::videoID("tt0903747", 1, 2),
                                          QStringLiteral("00ab12cd34ef5678"), 1234567);
    ASSERT_TRUE(url);
    const auto candidates = test::await(client.candidates(*url));
    ASSERT_EQ(candidates.size(), 2);
    EXPECT_EQ(server.requestCount(episodePath), 1) << "the colons travel as %3A";
    EXPECT_TRUE(candidates[0].isHashMatch);
    EXPECT_EQ(candidates[0].language, QStringLiteral("en"));

    for (const char* id : {"tt1", "tt2", "tt3"}) {  // 500, not JSON, 404
        const auto other = SubtitleAddonClient::subtitlesURL(base, "movie", id, {}, {});
        ASSERT_TRUE(other);
        EXPECT_TRUE(test::await(client.candidates(*other)).isEmpty()) << id;
    }

    const SubtitleDownload ok = test::await(client.download(candidates[0]));
    ASSERT_TRUE(ok.ok());
    EXPECT_EQ(ok.status, 200);
    EXPECT_EQ(*ok.bytes, QByteArray("1\n00:00:01,000 --> 00:00:02,000\nHi\n"));

    const SubtitleDownload missing = test::await(client.download(candidates[1]));
    EXPECT_EQ(missing.failure, SubtitleDownload::Failure::badServerResponse);
    EXPECT_EQ(missing.status, 404);
    EXPECT_FALSE(missing.bytes);

    SubtitleCandidate stalled = candidates[0];
    stalled.url = QUrl(server.url("/files/stall.srt"));
    const SubtitleDownload slow = test::await(client.download(stalled));
    EXPECT_EQ(slow.failure, SubtitleDownload::Failure::transport);
    EXPECT_EQ(slow.transportError, HttpError::timedOut);
    EXPECT_FALSE(slow.bytes);
}

class SubtitleSettingsTest : public test::TempHomeTest {};

TEST_F(SubtitleSettingsTest, DefaultsPersistenceAndNotifications) {
    UserDefaults& defaults = UserDefaults::standard();
    {
        SubtitleSettingsStore store;
        EXPECT_FALSE(store.addonBaseURL());
        EXPECT_FALSE(store.addonName());
        EXPECT_TRUE(store.autoSelect()) << "on when the key is missing";

        QSignalSpy urlSpy(&store, &SubtitleSettingsStore::addonBaseURLChanged);
        QSignalSpy nameSpy(&store, &SubtitleSettingsStore::addonNameChanged);
        QSignalSpy autoSpy(&store, &SubtitleSettingsStore::autoSelectChanged);
        int changes = 0;
        store.onChange = [&] { ++changes; };

        store.setAddon("https://subs.example/cfg", "Open Subs");
        EXPECT_EQ(store.addonBaseURL(), QStringLiteral("https://subs.example/cfg"));
        EXPECT_EQ(store.addonName(), QStringLiteral("Open Subs"));
        EXPECT_EQ(defaults.string(SubtitleSettingsStore::baseURLKey),
                  QStringLiteral("https://subs.example/cfg"));
        EXPECT_EQ(defaults.string(SubtitleSettingsStore::nameKey), QStringLiteral("Open Subs"));
        store.setAddon("https://subs.example/cfg", "Open Subs");  // equal: no notification
        store.setAddon("https://subs.example/cfg", "Renamed");
        EXPECT_EQ(urlSpy.count(), 1);
        EXPECT_EQ(nameSpy.count(), 2);
        EXPECT_EQ(changes, 2);

        store.setAutoSelect(true);
        EXPECT_EQ(autoSpy.count(), 0);
        store.setAutoSelect(false);
        EXPECT_EQ(autoSpy.count(), 1);
        EXPECT_EQ(defaults.boolean(SubtitleSettingsStore::autoSelectKey), false);
    }
    {
        SubtitleSettingsStore reread;
        EXPECT_EQ(reread.addonBaseURL(), QStringLiteral("https://subs.example/cfg"));
        EXPECT_EQ(reread.addonName(), QStringLiteral("Renamed"));
        EXPECT_FALSE(reread.autoSelect());
        QSignalSpy urlSpy(&reread, &SubtitleSettingsStore::addonBaseURLChanged);
        reread.clearAddon();
        EXPECT_EQ(urlSpy.count(), 1);
        EXPECT_FALSE(reread.addonBaseURL());
        EXPECT_FALSE(reread.addonName());
        EXPECT_FALSE(defaults.contains(SubtitleSettingsStore::baseURLKey));
        EXPECT_FALSE(defaults.contains(SubtitleSettingsStore::nameKey));
    }
    // Reloaded from the file: a value of another type reads as the default.
    defaults.setString(SubtitleSettingsStore::autoSelectKey, QStringLiteral("no"));
    UserDefaults::reloadStandard();
    SubtitleSettingsStore fromFile;
    EXPECT_TRUE(fromFile.autoSelect());
    EXPECT_FALSE(fromFile.addonBaseURL());
}
