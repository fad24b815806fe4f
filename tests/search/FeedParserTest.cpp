#include "search/FeedParser.h"
#include "search/FeedSearch.h"
#include "search/TextRules.h"

#include <gtest/gtest.h>
#include <QFile>

using namespace rillow;

namespace {

QByteArray fixture(const char* name) {
    QFile file(QStringLiteral(SEARCH_FIXTURES "/") + QLatin1String(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

QList<FeedItem> parseItems(const QString& items) {
    const QString document = QStringLiteral(
                                 "<rss xmlns:torznab=\"http://torznab.com/schemas/2015/feed\">"
                                 "<channel><title>Channel</title><link>https://c.test/</link>") +
                             items + QStringLiteral("</channel></rss>");
    return FeedParser().parse(document.toUtf8());
}

SearchSource feedSource() {
    SearchSource source = SearchSource::make(SearchSource::Kind::feed, QStringLiteral("Indexer"),
                                             QStringLiteral("https://indexer.test/?q=%s"));
    source.id = QUuid::fromString(QStringLiteral("6f9619ff-8b86-d011-b42d-00c04fc964ff"));
    return source;
}

TEST(EncodeQuery, KeepsOnlyTheReducedQuerySet) {
    struct Case {
        QString query;
        QString encoded;
    };
    const std::vector<Case> cases = {
        {"tom & jerry", "tom%20%26%20jerry"},
        {"a+b=c?d/e#f", "a%2Bb%3Dc%3Fd%2Fe%23f"},
        {"-._~!$'()*,;:@", "-._~!$'()*,;:@"},
        {"Amélie", "Am%C3%A9lie"},
        {QString::fromUtf8("\xF0\x9F\x8E\xAC"), "%F0%9F%8E%AC"},
        {"100%", "100%25"},
        {QString(QChar(0xD800)), QString(QChar(0xD800))},  // a lone surrogate stays as it is
    };
    for (const Case& c : cases) EXPECT_EQ(encodeQuery(c.query), c.encoded) << c.query.toStdString();
}

TEST(FeedSearchURL, FillsEveryPlaceholder) {
    EXPECT_EQ(
        feedSearchURL("http://127.0.0.1:1/api?q=%s", "tom & jerry")->toString(QUrl::FullyEncoded),
        "http://127.0.0.1:1/api?q=tom%20%26%20jerry");
    EXPECT_EQ(feedSearchURL("https://x.test/%s/rss?t=%s", "a b")->toString(QUrl::FullyEncoded),
              "https://x.test/a%20b/rss?t=a%20b");
    EXPECT_EQ(feedSearchURL("https://x.test/rss", "a b")->toString(), "https://x.test/rss");
    EXPECT_FALSE(feedSearchURL("not a url %s", "x").has_value());
    EXPECT_FALSE(feedSearchURL("", "x").has_value());
}

TEST(ParseDecimalInteger, ReadsOnlyPlainDecimals) {
    struct Case {
        const char* text;
        std::optional<qint64> value;
    };
    const std::vector<Case> cases = {
        {"12", 12},
        {"+7", 7},
        {"-3", -3},
        {"9223372036854775807", INT64_MAX},
        {"-9223372036854775808", INT64_MIN},
        {"9223372036854775808", std::nullopt},
        {"", std::nullopt},
        {"+", std::nullopt},
        {"1 2", std::nullopt},
        {" 12", std::nullopt},
        {"12a", std::nullopt},
        {"1.5", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(parseDecimalInteger(QString(c.text)), c.value) << c.text;
}

// One item per case, each checking the fields a rule of the reader fills.
TEST(FeedParser, ItemRules) {
    struct Case {
        const char* name;
        QString xml;
        FeedItem expected;
    };
    const std::vector<Case> cases = {
        {"seeders attribute name in capitals",
         "<item><torznab:attr name=\"SEEDERS\" value=\"12\"/></item>",
         {.seeders = 12}},
        {"seeders value not a number",
         "<item><torznab:attr name=\"seeders\" value=\"12x\"/></item>",
         {}},
        {"attribute names themselves are exact",
         "<item><torznab:attr NAME=\"seeders\" VALUE=\"3\"/></item>",
         {}},
        {"size element then attribute",
         "<item><size>1048576</size><torznab:attr name=\"size\" value=\"2048\"/></item>",
         {.sizeBytes = 2048}},
        {"attribute then size element",
         "<item><torznab:attr name=\"size\" value=\"2048\"/><size>1048576</size></item>",
         {.sizeBytes = 2048}},
        {"contentLength in mixed case",
         "<entry><ConTentLength> 5000 </ConTentLength></entry>",
         {.sizeBytes = 5000}},
        {"element names in any case",
         "<ITEM><Title>T</Title><LINK>https://x.test/a.torrent</LINK></ITEM>",
         {.title = "T", .link = "https://x.test/a.torrent"}},
        {"CDATA title trimmed",
         "<item><title><![CDATA[\n  Big Buck Bunny  \n]]></title></item>",
         {.title = "Big Buck Bunny"}},
        {"entities in text",
         "<item><title>Tom &amp; Jerry</title></item>",
         {.title = "Tom & Jerry"}},
        {"text before a child element is lost",
         "<item><title>lost<b/>kept</title></item>",
         {.title = "kept"}},
        {"empty link keeps nothing",
         "<item><link>https://a.test/x</link><link> </link></item>",
         {.link = "https://a.test/x"}},
        {"atom link attribute contributes nothing",
         "<entry><link href=\"https://a.test/x.torrent\"/><id>e1</id></entry>",
         {.guid = "e1"}},
        {"enclosure url and newznab magnet",
         "<item><enclosure url=\"https://a.test/e.torrent\"/>"
         "<newznab:attr name=\"magneturl\" value=\"magnet:?xt=urn:btih:AB\"/></item>",
         {.enclosureURL = "https://a.test/e.torrent", .magnet = "magnet:?xt=urn:btih:AB"}},
        {"enclosure without url", "<item><enclosure length=\"5\"/></item>", {}},
    };
    for (const Case& c : cases) {
        const QList<FeedItem> items = parseItems(c.xml);
        ASSERT_EQ(items.size(), 1) << c.name;
        EXPECT_EQ(items[0], c.expected) << c.name;
    }
}

TEST(FeedParser, ChannelFieldsOutsideItemsAreIgnored) {
    EXPECT_TRUE(parseItems(QString()).isEmpty());
}

TEST(FeedItemLink, PreferenceOrder) {
    const QString magnet = QStringLiteral("magnet:?xt=urn:btih:AAAA");
    const QString torrent = QStringLiteral("https://t.test/1.torrent");
    struct Case {
        const char* name;
        FeedItem item;
        std::optional<Link> link;
    };
    const std::vector<Case> cases = {
        {"magnet in link beats a torrent enclosure",
         {.link = magnet, .enclosureURL = torrent},
         Link::makeMagnet(magnet)},
        {"magnet attribute first",
         {.link = "magnet:?xt=urn:btih:LINK", .enclosureURL = torrent, .magnet = magnet},
         Link::makeMagnet(magnet)},
        {"magnet in enclosure",
         {.link = torrent, .enclosureURL = magnet},
         Link::makeMagnet(magnet)},
        {"magnet prefix is case-sensitive",
         {.link = "MAGNET:?xt=urn:btih:A"},
         Link::makeTorrentURL(QUrl("MAGNET:?xt=urn:btih:A"))},
        {"relative link is no address", {.link = "/download/1.torrent"}, std::nullopt},
        {"enclosure before link",
         {.link = "https://t.test/2.torrent", .enclosureURL = torrent},
         Link::makeTorrentURL(QUrl(torrent))},
        {"only link text", {.link = torrent}, Link::makeTorrentURL(QUrl(torrent))},
        {"unparsable enclosure falls to link",
         {.link = torrent, .enclosureURL = "not a url"},
         Link::makeTorrentURL(QUrl(torrent))},
        {"nothing", {.title = "x"}, std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(feedItemLink(c.item), c.link) << c.name;
}

TEST(FeedResults, TorznabFixture) {
    const QList<FeedItem> items = FeedParser().parse(fixture("torznab.xml"));
    ASSERT_EQ(items.size(), 5);
    const QList<SearchResult> results = feedResults(feedSource(), items, 25);
    ASSERT_EQ(results.size(), 4);  // "No Address" is dropped
    const QString prefix = "feed:6F9619FF-8B86-D011-B42D-00C04FC964FF:";

    EXPECT_EQ(results[0].id, prefix + "g-1");
    EXPECT_EQ(results[0].title, "Magnet In Link");
    EXPECT_EQ(results[0].seeders, 12);
    EXPECT_EQ(results[0].link,
              Link::makeMagnet("magnet:?xt=urn:btih:0123456789abcdef0123456789abcdef01234567"));
    EXPECT_EQ(results[0].sourceName, "Indexer");
    EXPECT_FALSE(results[0].posterURL.has_value());

    EXPECT_EQ(results[1].id, prefix + "https://indexer.test/2.torrent");  // no guid: the link
    EXPECT_EQ(results[1].seeders, std::nullopt);
    EXPECT_EQ(results[1].link, Link::makeTorrentURL(QUrl("https://indexer.test/2.torrent")));

    EXPECT_EQ(results[2].title, QString::fromUtf8("Café & Friends 1080p"));
    EXPECT_EQ(results[2].link.kind, Link::Kind::magnet);
    EXPECT_EQ(results[2].id, prefix + "dup");
    EXPECT_EQ(results[3].id, results[2].id);  // same guid, same id
    EXPECT_EQ(results[3].link, Link::makeTorrentURL(QUrl("https://indexer.test/5.torrent")));
}

TEST(FeedResults, LimitAppliesBeforeDropping) {
    QString xml;
    xml += "<item><title>no link</title></item>";
    for (int i = 1; i <= 30; ++i)
        xml +=
            QStringLiteral("<item><title>%1</title><link>https://t.test/%1.torrent</link></item>")
                .arg(i);
    const QList<FeedItem> items = parseItems(xml);
    ASSERT_EQ(items.size(), 31);
    const QList<SearchResult> results = feedResults(feedSource(), items, 25);
    ASSERT_EQ(results.size(), 24);
    EXPECT_EQ(results.last().title, "24");  // the 26th item and later are never read
}

TEST(FeedResults, AtomEntry) {
    const QList<FeedItem> items = FeedParser().parse(fixture("atom.xml"));
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(items[0].sizeBytes, 5000);
    EXPECT_EQ(items[0].guid, "urn:entry:1");
    EXPECT_EQ(items[0].link, "https://indexer.test/atom.torrent");
}

TEST(FeedParser, FaultyDocuments) {
    // An error page, HTML or not: nothing.
    EXPECT_TRUE(FeedParser().parse(fixture("error500.html")).isEmpty());
    EXPECT_TRUE(FeedParser().parse("Internal Server Error").isEmpty());
    EXPECT_TRUE(FeedParser().parse(QByteArray()).isEmpty());
    // Malformed XML: the items finished before the fault.
    const QList<FeedItem> truncated = FeedParser().parse(fixture("truncated.xml"));
    ASSERT_EQ(truncated.size(), 2);
    EXPECT_EQ(truncated[1].title, "Second");
}

TEST(FeedParser, StopsAtDocumentTypeDeclaration) {
    // Fully expanded, the title would be 8 × 32 × 32 × 100 bytes; the reader never gets there.
    EXPECT_TRUE(FeedParser().parse(fixture("entity-bomb.xml")).isEmpty());
    // Items read before a declaration in the middle of a document are kept.
    const QByteArray midway =
        "<rss><item><title>Kept</title></item><!DOCTYPE x [<!ENTITY a \"b\">]>"
        "<item><title>&a;</title></item></rss>";
    const QList<FeedItem> items = FeedParser().parse(midway);
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(items[0].title, "Kept");
}

}  // namespace
