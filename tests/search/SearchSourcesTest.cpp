#include "platform/UserDefaults.h"
#include "search/SearchSource.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>

using namespace rillow;

namespace {

const QString kKey = QStringLiteral("searchSources");

class SearchSourcesTest : public test::TempHomeTest {
protected:
    void storeRaw(const QByteArray& json) { UserDefaults::standard().setData(kKey, json); }
    QJsonArray storedArray() {
        const auto data = UserDefaults::standard().data(kKey);
        EXPECT_TRUE(data.has_value());
        return QJsonDocument::fromJson(data.value_or(QByteArray())).array();
    }
};

TEST_F(SearchSourcesTest, FirstRunIsEmptyAndWritesNothing) {
    SearchSourcesStore store;
    EXPECT_TRUE(store.sources().isEmpty());
    EXPECT_TRUE(store.enabledSources().isEmpty());
    EXPECT_FALSE(UserDefaults::standard().contains(kKey));
}

TEST_F(SearchSourcesTest, StoredFormHasAllSixKeysAndUpperCaseId) {
    SearchSourcesStore store;
    SearchSource feed = SearchSource::make(SearchSource::Kind::feed, QStringLiteral("Feed"),
                                           QStringLiteral("https://a.test/?q=%s"));
    store.add(feed);
    const QJsonArray array = storedArray();
    ASSERT_EQ(array.size(), 1);
    const QJsonObject object = array[0].toObject();
    EXPECT_EQ(object.keys().size(), 6);
    const QString id = object.value("id").toString();
    EXPECT_EQ(id.size(), 36);
    EXPECT_EQ(id, id.toUpper());
    EXPECT_EQ(id, feed.id.toString(QUuid::WithoutBraces).toUpper());
    EXPECT_EQ(object.value("kind").toString(), "feed");
    EXPECT_TRUE(object.value("isEnabled").isBool());
    EXPECT_EQ(object.value("baseURL").toString(), "");  // written also when empty

    UserDefaults::reloadStandard();
    SearchSourcesStore reloaded;
    ASSERT_EQ(reloaded.sources().size(), 1);
    EXPECT_EQ(reloaded.sources()[0], feed);
}

TEST_F(SearchSourcesTest, OlderListWithoutUrlKeysLoadsWithEmptyFields) {
    storeRaw(R"([{"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","name":"Old","isEnabled":true,)"
             R"("kind":"stremio"},{"id":"6f9619ff-8b86-d011-b42d-00c04fc964fe","name":"N",)"
             R"("isEnabled":false,"kind":"feed","urlTemplate":null,"baseURL":null}])");
    SearchSourcesStore store;
    ASSERT_EQ(store.sources().size(), 2);
    EXPECT_EQ(store.sources()[0].kind, SearchSource::Kind::stremio);
    EXPECT_TRUE(store.sources()[0].urlTemplate.isEmpty());
    EXPECT_TRUE(store.sources()[0].baseURL.isEmpty());
    EXPECT_EQ(store.sources()[1].idText(), "6F9619FF-8B86-D011-B42D-00C04FC964FE");
}

// Any bad element discards the whole stored list.
TEST_F(SearchSourcesTest, BadElementDiscardsTheWholeList) {
    const char* good =
        R"({"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","name":"A","isEnabled":true,"kind":"feed"})";
    const std::vector<std::string> bad = {
        R"({"id":"6F9619FF-8B86-D011-B42D-00C04FC964FE","name":"B","isEnabled":true,"kind":"rss"})",
        R"({"id":"not-a-uuid","name":"B","isEnabled":true,"kind":"feed"})",
        R"({"id":"6F9619FF-8B86-D011-B42D-00C04FC964FE","isEnabled":true,"kind":"feed"})",
        R"({"id":"6F9619FF-8B86-D011-B42D-00C04FC964FE","name":"B","isEnabled":1,"kind":"feed"})",
        R"({"id":"6F9619FF-8B86-D011-B42D-00C04FC964FE","name":"B","isEnabled":true,"kind":"feed","baseURL":3})",
        R"("just text")",
    };
    for (const std::string& element : bad) {
        storeRaw(QByteArray("[") + good + "," + element.c_str() + "]");
        SearchSourcesStore store;
        EXPECT_TRUE(store.sources().isEmpty()) << element;
    }
    storeRaw("{not json");
    EXPECT_TRUE(SearchSourcesStore().sources().isEmpty());
}

TEST_F(SearchSourcesTest, RemoveAndEnabledKeepOrder) {
    SearchSourcesStore store;
    auto a = SearchSource::make(SearchSource::Kind::feed, "A", "https://a.test/%s");
    auto b = SearchSource::make(SearchSource::Kind::stremio, "B", "https://b.test", false);
    auto c = SearchSource::make(SearchSource::Kind::feed, "C", "https://c.test/%s");
    store.add(a);
    store.add(b);
    store.add(c);
    EXPECT_EQ(store.sources(), (QList<SearchSource>{a, b, c}));
    EXPECT_EQ(store.enabledSources(), (QList<SearchSource>{a, c}));

    QSignalSpy changed(&store, &SearchSourcesStore::sourcesChanged);
    UserDefaults::standard().remove(kKey);
    store.remove({});  // unchanged, but stored again and without a notice
    EXPECT_EQ(store.sources().size(), 3);
    EXPECT_EQ(storedArray().size(), 3);
    EXPECT_EQ(changed.count(), 0);

    store.remove({a.id, c.id});
    EXPECT_EQ(store.sources(), (QList<SearchSource>{b}));
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(storedArray().size(), 1);
}

}  // namespace
