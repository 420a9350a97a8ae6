// The query language's grammar and its errors, with the positions they name.
#include "tessarel/errors.h"
#include "tessarel/tql.h"

#include <gtest/gtest.h>

#include <random>

using namespace lf::tessarel;
using namespace lf::tessarel::tql;

namespace {

std::string errorOf(const std::string& text) {
    try {
        parseTql(text);
    } catch (const TsException& e) {
        return e.what();
    }
    return "no error";
}

const Comparison& cmp(const ConditionPtr& c) {
    return std::get<Comparison>(c->node);
}

} // namespace

TEST(TessarelTqlGrammar, QueriesTheProgramSends) {
    // The export query of a deck folder.
    auto q = parseTql("select r_object_id from ts_document where folder(ID('0b00000180000001'),descend) and "
                      "(a_content_type = 'ppt8' or a_content_type = 'msw6' or a_content_type = 'msw8')");
    EXPECT_EQ(q.attributes, std::vector<std::string>{"r_object_id"});
    EXPECT_EQ(q.type, "ts_document");
    const auto& top = std::get<Logical>(q.where->node);
    EXPECT_EQ(top.kind, Logical::And);
    const auto& folder = std::get<FolderTest>(top.left->node);
    EXPECT_TRUE(folder.byId);
    EXPECT_TRUE(folder.descend);
    EXPECT_EQ(folder.pathOrId, "0b00000180000001");
    // "a or b or c" groups to the left.
    const auto& ors = std::get<Logical>(top.right->node);
    EXPECT_EQ(ors.kind, Logical::Or);
    EXPECT_EQ(cmp(ors.right).value.text, "msw8");

    // The check-out query of the grayscale run, by path and without blanks.
    q = parseTql("select r_object_id from ts_document where folder('/Edvara/Courses/Storage',descend) and "
                 "a_content_type='ppt8'");
    EXPECT_EQ(std::get<FolderTest>(std::get<Logical>(q.where->node).left->node).pathOrId,
              "/Edvara/Courses/Storage");

    // The browser's cabinet list.
    q = parseTql("select object_name from ts_cabinet where is_private = false");
    EXPECT_EQ(cmp(q.where).value.kind, ValueKind::Boolean);
    EXPECT_FALSE(cmp(q.where).value.boolean);
}

TEST(TessarelTqlGrammar, PrecedenceNotAndOrAndParentheses) {
    auto q = parseTql("select object_name from ts_document where object_name = 'a' or object_name = 'b' and "
                      "not object_name = 'c'");
    const auto& orNode = std::get<Logical>(q.where->node);
    ASSERT_EQ(orNode.kind, Logical::Or);
    const auto& andNode = std::get<Logical>(orNode.right->node);
    ASSERT_EQ(andNode.kind, Logical::And);
    EXPECT_TRUE(std::holds_alternative<Negation>(andNode.right->node));

    q = parseTql("select object_name from ts_document where (object_name = 'a' or object_name = 'b') and "
                 "object_name <> 'c'");
    const auto& top = std::get<Logical>(q.where->node);
    EXPECT_EQ(top.kind, Logical::And);
    EXPECT_EQ(std::get<Logical>(top.left->node).kind, Logical::Or);
    EXPECT_EQ(cmp(top.right).op, CompareOp::NotEqual);
}

TEST(TessarelTqlGrammar, StringsNumbersKeywordsAndStar) {
    auto q = parseTql("SELECT Object_Name FROM TS_DOCUMENT WHERE folder('/Edvara/O''Brien''s course') "
                      "AND object_name LIKE '%''%' AND r_content_size >= 1024;");
    EXPECT_EQ(q.attributes[0], "object_name");
    const auto& top = std::get<Logical>(q.where->node);
    const auto& inner = std::get<Logical>(top.left->node);
    EXPECT_EQ(std::get<FolderTest>(inner.left->node).pathOrId, "/Edvara/O'Brien's course");
    EXPECT_FALSE(std::get<FolderTest>(inner.left->node).descend);
    EXPECT_EQ(cmp(inner.right).op, CompareOp::Like);
    EXPECT_EQ(cmp(inner.right).value.text, "%'%");
    EXPECT_EQ(cmp(top.right).value.number, 1024);
    EXPECT_EQ(cmp(top.right).op, CompareOp::GreaterEqual);

    q = parseTql("select * from ts_sysobject");
    EXPECT_EQ(q.attributes.size(), attributes().size());
    EXPECT_EQ(q.where, nullptr);

    q = parseTql("select object_name from ts_document where object_name not like 'x%'");
    EXPECT_EQ(cmp(q.where).op, CompareOp::NotLike);

    EXPECT_EQ(quoteString("O'Brien's"), "'O''Brien''s'");
    EXPECT_EQ(
        cmp(parseTql("select object_name from ts_folder where object_name = " + quoteString("a''b'")).where)
            .value.text,
        "a''b'");
}

TEST(TessarelTqlErrors, SyntaxErrorsNameTheirPosition) {
    EXPECT_EQ(errorOf(""), "[TS_QUERY_SYNTAX] Empty query at position 1");
    EXPECT_EQ(errorOf("   "), "[TS_QUERY_SYNTAX] Empty query at position 1");
    EXPECT_EQ(errorOf("delete from ts_document"),
              "[TS_QUERY_SYNTAX] Expected 'select' but found 'delete' at position 1");
    EXPECT_EQ(errorOf("select object_name form ts_document"),
              "[TS_QUERY_SYNTAX] Expected 'from' but found 'form' at position 20");
    EXPECT_EQ(errorOf("select object_name from ts_document where object_name = 'abc"),
              "[TS_QUERY_SYNTAX] Unterminated string at position 57");
    EXPECT_EQ(errorOf("select object_name from ts_document where (object_name = 'a'"),
              "[TS_QUERY_SYNTAX] Expected ')' but found the end of the query at position 61");
    EXPECT_EQ(errorOf("select object_name from ts_document where object_name 'a'"),
              "[TS_QUERY_SYNTAX] Expected a comparison operator but found the string 'a' at position 55");
    EXPECT_EQ(errorOf("select object_name from ts_document where object_name = 'a' extra"),
              "[TS_QUERY_SYNTAX] Unexpected 'extra' at position 61");
    EXPECT_EQ(errorOf("select object_name from ts_document where folder('/a',deep)"),
              "[TS_QUERY_SYNTAX] Expected 'descend' but found 'deep' at position 55");
    EXPECT_EQ(errorOf("select object_name, from ts_document"),
              "[TS_QUERY_SYNTAX] Expected an attribute name but found 'from' at position 21");
    EXPECT_EQ(errorOf("select object_name from ts_document where object_name = 'a' and"),
              "[TS_QUERY_SYNTAX] Expected an attribute name, 'folder', 'not' or '(' but found the end of the "
              "query at position 64");
    EXPECT_EQ(errorOf("select object_name from ts_document where object_name = #"),
              "[TS_QUERY_SYNTAX] Unexpected character '#' at position 57");
}

TEST(TessarelTqlErrors, MeaningErrorsNameTheirPosition) {
    EXPECT_EQ(errorOf("select colour from ts_document"),
              "[TS_QUERY_SEMANTIC] Unknown attribute 'colour' at position 8");
    EXPECT_EQ(errorOf("select object_name from dm_document"),
              "[TS_QUERY_SEMANTIC] Unknown object type 'dm_document' at position 25");
    EXPECT_EQ(
        errorOf("select object_name from ts_cabinet where is_private = 'no'"),
        "[TS_QUERY_SEMANTIC] Attribute 'is_private' is compared with true or false, not with the string 'no' "
        "at position 55");
    EXPECT_EQ(
        errorOf("select object_name from ts_document where r_content_size like '1%'"),
        "[TS_QUERY_SEMANTIC] Attribute 'r_content_size' is compared with a number, not with the string '1%' "
        "at position 63");
    EXPECT_EQ(errorOf("select object_name from ts_document where folder(ID('xyz'))"),
              "[TS_QUERY_SEMANTIC] 'xyz' is not an object id at position 53");
    EXPECT_EQ(errorOf("select object_name from ts_document where folder('Edvara')"),
              "[TS_QUERY_SEMANTIC] Folder path 'Edvara' does not start with '/' at position 50");
}

TEST(TessarelTqlErrors, DescriptionsParseBackIntoTheirMessage) {
    const std::string what = errorOf("select object_name form ts_document");
    auto parts = splitErrorDescription(what);
    ASSERT_TRUE(parts);
    EXPECT_EQ(parts->code, "TS_QUERY_SYNTAX");
    EXPECT_EQ(parts->message, "Expected 'from' but found 'form' at position 20");
    EXPECT_FALSE(splitErrorDescription("Serious trouble"));
    EXPECT_FALSE(splitErrorDescription("[ts_lower] message"));
    EXPECT_FALSE(splitErrorDescription("[TS_CODE]message"));
    EXPECT_FALSE(splitErrorDescription("[] message"));
}

TEST(TessarelTqlErrors, MangledQueriesOnlyEverFailWithADescription) {
    // Mutations of real queries: every one either parses or throws the one exception type whose
    // description names a position.
    const std::vector<std::string> seeds = {
        "select r_object_id from ts_document where folder(ID('0b00000180000001'),descend) and "
        "(a_content_type = 'ppt8' or a_content_type = 'msw6')",
        "select object_name from ts_cabinet where is_private = false",
        "select object_name, r_object_type from ts_sysobject where folder('/Edvara/O''Brien''s',descend) and "
        "not r_content_size >= 10",
    };
    const std::string alphabet = "'(),=<>!*; \tabcdefolrs_0123456789/.-#%\"";
    std::mt19937 rng(5);
    int parsed = 0, failed = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string q = seeds[rng() % seeds.size()];
        const int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits && !q.empty(); ++e) {
            const size_t at = rng() % q.size();
            switch (rng() % 3) {
            case 0:
                q.erase(at, 1 + rng() % 3);
                break;
            case 1:
                q.insert(at, 1, alphabet[rng() % alphabet.size()]);
                break;
            default:
                q[at] = alphabet[rng() % alphabet.size()];
            }
        }
        try {
            parseTql(q);
            ++parsed;
        } catch (const TsException& e) {
            ++failed;
            ASSERT_NE(std::string(e.what()).find(" at position "), std::string::npos) << q;
            ASSERT_TRUE(splitErrorDescription(e.what())) << q;
        }
    }
    EXPECT_GT(parsed, 0);
    EXPECT_GT(failed, 0);
}
