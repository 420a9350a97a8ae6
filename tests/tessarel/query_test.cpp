// Queries run on a real repository: folder tests, comparisons, logic, result collections.
#include "fixture.h"

#include <algorithm>

using namespace lf::tessarel;
using namespace lf::tessarel::test;

namespace {

class TessarelQueryTest : public OnEveryBackend<TessarelRepositoryTest> {
protected:
    void SetUp() override {
        TessarelRepositoryTest::SetUp();
        s_ = alice();
        makeFolders(s_, "/Edvara/Courses/Storage/Labs");
        makeFolders(s_, "/Edvara/Courses/StorageX");
        makeDocument(s_, "/Edvara/Courses/Storage", "01_Introduction.pptx", std::string(2000, 'a'));
        makeDocument(s_, "/Edvara/Courses/Storage", "02_Storage.pptx", "deck two");
        makeDocument(s_, "/Edvara/Courses/Storage", "Overview.docx", "document");
        makeDocument(s_, "/Edvara/Courses/Storage", "Old Notes", "old", "Old Notes.doc");
        makeDocument(s_, "/Edvara/Courses/Storage/Labs", "03_Labs.pptx", "lab deck");
        makeDocument(s_, "/Edvara/Courses/Storage/Labs", "Lab Guide.pdf", "pdf");
        // Siblings whose paths begin like the folder's must never count as inside it (" " and "-"
        // sort before "/").
        makeDocument(s_, "/Edvara/Courses/StorageX", "09_Other.pptx", "other deck");
        makeFolders(s_, "/Edvara/Courses/Storage 2");
        makeFolders(s_, "/Edvara/Courses/Storage-old/Sub");
        makeDocument(s_, "/Edvara/Courses/Storage 2", "10_Sibling.pptx", "sibling deck");
        makeDocument(s_, "/Edvara/Courses/Storage-old/Sub", "11_Sibling.pptx", "sibling deck");
        storageId_ = s_->folderByPath("/Edvara/Courses/Storage")->objectId()->text();
    }

    std::vector<std::string> names(const std::string& tql) {
        auto v = column(s_, tql, "object_name");
        std::sort(v.begin(), v.end());
        return v;
    }

    TsSessionPtr s_;
    std::string storageId_;
};

using Names = std::vector<std::string>;

} // namespace

TEST_P(TessarelQueryTest, FolderWithAndWithoutDescend) {
    EXPECT_EQ(names("select object_name from ts_document where folder('/Edvara/Courses/Storage')"),
              (Names{"01_Introduction.pptx", "02_Storage.pptx", "Old Notes", "Overview.docx"}));
    EXPECT_EQ(
        names("select object_name from ts_document where folder('/Edvara/Courses/Storage/',descend)").size(),
        6u);
    EXPECT_EQ(names("select object_name from ts_sysobject where folder('/Edvara/Courses/Storage')").size(),
              5u)
        << "the Labs folder is in it too";
    EXPECT_EQ(names("select object_name from ts_folder where folder('/Edvara',descend)"),
              (Names{"Courses", "Labs", "Storage", "Storage 2", "Storage-old", "StorageX", "Sub"}));
    EXPECT_EQ(
        names("select object_name from ts_document where folder('/Edvara/Courses/Storage-old',descend)"),
        (Names{"11_Sibling.pptx"}));
    EXPECT_EQ(names("select object_name from ts_sysobject where folder('/')"), (Names{"Edvara"}));
    EXPECT_EQ(
        thrown([&] { names("select object_name from ts_document where folder('/Edvara/Nowhere')"); }).what(),
        std::string("[TS_OBJECT_NOT_FOUND] There is no folder '/Edvara/Nowhere'"));
}

TEST_P(TessarelQueryTest, TheExportQueriesByContentType) {
    const std::string start = "select r_object_id from ts_document where folder(ID('" + storageId_ + "'";
    EXPECT_EQ(countRows(s_, start + "),descend) and (a_content_type = 'ppt8')"), 3);
    EXPECT_EQ(countRows(s_, start + "),descend) and (a_content_type = 'msw8' or a_content_type = 'msw6')"),
              2);
    EXPECT_EQ(countRows(s_, start + "),descend) and (a_content_type = 'ppt8' or a_content_type = 'msw6' or "
                                    "a_content_type = 'msw8')"),
              5);
    EXPECT_EQ(
        countRows(s_,
                  "select r_object_id from ts_document where folder('/Edvara/Courses/Storage',descend) and "
                  "a_content_type='ppt8'"),
        3);
    EXPECT_EQ(thrown([&] { countRows(s_, ""); }).code(), code::QuerySyntax);
    EXPECT_EQ(thrown([&] {
                  countRows(s_, "select r_object_id from ts_document where folder(ID('0900000000000000'))");
              }).code(),
              code::ObjectNotFound);
}

TEST_P(TessarelQueryTest, ComparisonsAndLogic) {
    const std::string base =
        "select object_name from ts_document where folder('/Edvara/Courses/Storage',descend) and ";
    EXPECT_EQ(names(base + "object_name like '0%'"),
              (Names{"01_Introduction.pptx", "02_Storage.pptx", "03_Labs.pptx"}));
    EXPECT_EQ(names(base + "object_name like '%l%'"), (Names{"Old Notes"})) << "like is case-sensitive";
    EXPECT_EQ(names(base + "not object_name like '0%'"),
              (Names{"Lab Guide.pdf", "Old Notes", "Overview.docx"}));
    EXPECT_EQ(names(base + "object_name not like '0%'").size(), 3u);
    EXPECT_EQ(
        names(base + "a_content_type <> 'ppt8' and not (a_content_type = 'pdf' or a_content_type = 'msw6')"),
        (Names{"Overview.docx"}));
    EXPECT_EQ(names(base + "r_content_size > 1000"), (Names{"01_Introduction.pptx"}));
    EXPECT_EQ(names(base + "r_content_size <= 3"), (Names{"Lab Guide.pdf", "Old Notes"}));
    EXPECT_EQ(names(base + "owner_name = 'alice' and r_lock_owner = '' and r_version_label = '1.0'").size(),
              6u);
    EXPECT_EQ(
        names("select object_name from ts_document where object_name = 'Overview.docx' or object_name = "
              "'09_Other.pptx'"),
        (Names{"09_Other.pptx", "Overview.docx"}));
}

TEST_P(TessarelQueryTest, QueryTextNeverBecomesStatementText) {
    EXPECT_EQ(countRows(s_, "select object_name from ts_document where object_name = 'x'' OR ''1''=''1'"), 0);
    EXPECT_EQ(
        countRows(s_,
                  "select object_name from ts_document where object_name = '''); DROP TABLE objects; --'"),
        0);
    EXPECT_THROW(
        countRows(s_, "select object_name from ts_document where folder('/Edvara'' OR 1=1 --',descend)"),
        TsException);
    EXPECT_EQ(countRows(s_, "select object_name from ts_document"), 9);
}

TEST_P(TessarelQueryTest, ResultCollectionsRowByRow) {
    auto q = client_->newQuery();
    q->setTQL(
        "select object_name, r_object_type, r_object_id, is_private from ts_sysobject where folder('/Edvara/"
        "Courses/Storage')");
    auto rows = q->execute(s_, 0);
    EXPECT_EQ(thrown([&] { rows->getString("object_name"); }).code(), code::BadArgument) << "no row yet";
    ASSERT_TRUE(rows->next());
    EXPECT_FALSE(rows->getString("OBJECT_NAME").empty());
    EXPECT_EQ(rows->getString("is_private"), "false");
    EXPECT_EQ(rows->getString("r_object_id").size(), 16u);
    EXPECT_EQ(thrown([&] { rows->getString("owner_name"); }).code(), code::BadArgument) << "not selected";
    rows->close();
    EXPECT_FALSE(rows->next());
    EXPECT_EQ(thrown([&] { q->execute(s_, 1); }).code(), code::BadArgument);
    EXPECT_EQ(thrown([&] { q->execute(nullptr, 0); }).code(), code::NotConnected);

    // The browser lists a folder's contents, splitting folders from documents.
    auto folder = s_->folderByPath("/Edvara/Courses/Storage");
    auto contents = folder->contents("object_name,r_object_type,r_object_id");
    Names folders, objects;
    while (contents->next())
        (contents->getString("r_object_type") == "ts_folder" ? folders : objects)
            .push_back(contents->getString("object_name"));
    contents->close();
    EXPECT_EQ(folders, (Names{"Labs"}));
    EXPECT_EQ(objects.size(), 4u);
}

TEST_P(TessarelQueryTest, ConditionsUpToTheDepthLimitOf20And500TermsRunAndLargerOnesFailNamingTheLimit) {
    ASSERT_EQ(tql::kMaxConditionDepth, 20u);
    ASSERT_EQ(tql::kMaxConditionTerms, 500u);
    auto repeat = [](const std::string& s, size_t n) {
        std::string out;
        for (size_t i = 0; i < n; ++i)
            out += s;
        return out;
    };
    auto orChain = [](size_t terms, const std::string& term) {
        std::string out = term;
        for (size_t i = 1; i < terms; ++i)
            out += " or " + term;
        return out;
    };
    const std::string base = "select object_name from ts_document where ";
    const std::string labs = "'/Edvara/Courses/Storage/Labs'";
    const std::string inLabs = "r_folder_path = " + labs;
    // The shape the database finds hardest: 'or' and 'and' taking turns, the nested part last,
    // over the widest column and the folder range test. Each wrapper adds a level to the one of
    // the innermost "a or b".
    auto alternating = [&](size_t wrappers) {
        std::string c = inLabs + " or folder(" + labs + ",descend)";
        for (size_t i = 0; i < wrappers; ++i)
            c = (i % 2 ? "r_folder_path = '/nowhere' or (" : "not r_folder_path = '/nowhere' and (") + c +
                ")";
        return c;
    };
    for (const auto& s : {s_, admin_}) {
        auto q = client_->newQuery();
        q->setTQL(base + alternating(tql::kMaxConditionDepth - 1));
        auto rows = q->execute(s, 0);
        int n = 0;
        while (rows->next())
            ++n;
        EXPECT_EQ(n, 2) << "the two documents in Labs, for " << s->userName();
    }
    EXPECT_EQ(names(base + repeat("not ", 20) + inLabs), (Names{"03_Labs.pptx", "Lab Guide.pdf"}));
    EXPECT_EQ(names(base + repeat("(", 20) + inLabs + repeat(")", 20)).size(), 2u);
    EXPECT_EQ(names(base + orChain(500, inLabs)).size(), 2u) << "a long list is one level";

    // One more, and far more (15,000 parentheses once overflowed the parser's own stack).
    auto refused = [&](const std::string& where, const std::string& limit) {
        const TsException e = thrown([&] { names(base + where); });
        EXPECT_EQ(e.code(), code::QuerySyntax);
        EXPECT_NE(e.message().find("the limit of " + limit), std::string::npos) << e.message();
        EXPECT_NE(e.message().find(" at position "), std::string::npos) << e.message();
    };
    refused(alternating(tql::kMaxConditionDepth), "20 levels");
    refused(repeat("(", 21) + inLabs + repeat(")", 21), "20 levels");
    refused(repeat("(", 15000) + inLabs + repeat(")", 15000), "20 levels");
    refused(repeat("not ", 21) + inLabs, "20 levels");
    refused(repeat("not ", 15000) + inLabs, "20 levels");
    refused(orChain(501, inLabs), "500");
    refused(orChain(15000, inLabs), "500");
}

INSTANTIATE_TEST_SUITE_P(Backends, TessarelQueryTest, everyBackend(), backendName);
