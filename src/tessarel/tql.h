#pragma once
// The repository's query language: select ATTR[,ATTR...] from TYPE [where COND].
// parseTql turns a text into a checked tree; a storage backend turns the tree into its own
// parameterised statement, so no text of a query ever reaches the database as statement text.
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace lf::tessarel::tql {

enum class ValueKind { String, Boolean, Number };

struct AttributeInfo {
    const char* name;
    ValueKind kind;
};
// Every attribute an object carries, in the order "select *" lists them.
const std::vector<AttributeInfo>& attributes();
const AttributeInfo* findAttribute(std::string_view name);
// ts_sysobject (every object), ts_document, ts_folder (folders and cabinets), ts_cabinet.
bool isKnownType(std::string_view type);

struct Literal {
    ValueKind kind = ValueKind::String;
    std::string text;     // String
    bool boolean = false; // Boolean
    double number = 0;    // Number
};

enum class CompareOp { Equal, NotEqual, Less, LessEqual, Greater, GreaterEqual, Like, NotLike };

struct Condition;
using ConditionPtr = std::unique_ptr<Condition>;

struct Comparison {
    std::string attribute;
    CompareOp op = CompareOp::Equal;
    Literal value;
};
// folder('/path'[,descend]) or folder(ID('0123456789abcdef')[,descend]).
struct FolderTest {
    bool byId = false;
    std::string pathOrId;
    bool descend = false;
};
struct Logical {
    enum Kind { And, Or } kind = And;
    ConditionPtr left;
    ConditionPtr right;
};
struct Negation {
    ConditionPtr operand;
};

struct Condition {
    std::variant<Comparison, FolderTest, Logical, Negation> node;
};

struct Query {
    std::vector<std::string> attributes; // the select list, "*" expanded
    std::string type;
    ConditionPtr where; // null when there is no where clause
};

// How deep a where clause may nest: parentheses and 'not' open at once, and the levels of 'and',
// 'or' and 'not' in the condition tree (a chain of one operator, "a or b or c", is one level).
// It bounds the parser's recursion and the walks over the tree, and keeps the statement a query
// becomes within what the database parses: SQLite's parser (a stack of 100 entries) overflows at
// about 26 levels of "a or (b and (...))", long before its expression depth limit of 1,000.
inline constexpr size_t kMaxConditionDepth = 20;
// How many comparisons and folder tests one where clause may hold. A chain of N terms is an
// expression N deep for the database (its limit is 1,000) and bounds the tree a query makes.
inline constexpr size_t kMaxConditionTerms = 500;

// Throws TsException TS_QUERY_SYNTAX or TS_QUERY_SEMANTIC naming the 1-based position of the fault;
// a condition deeper than kMaxConditionDepth is a TS_QUERY_SYNTAX error that names the limit.
Query parseTql(std::string_view text);

// Quotes a text as a TQL string literal ('' for every quote).
std::string quoteString(std::string_view text);

} // namespace lf::tessarel::tql
