#include "tessarel/tql.h"

#include "tessarel/errors.h"

#include "platform/ascii.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>

namespace lf::tessarel::tql {

const std::vector<AttributeInfo>& attributes() {
    static const std::vector<AttributeInfo> list = {
        {"r_object_id", ValueKind::String},     {"object_name", ValueKind::String},
        {"r_object_type", ValueKind::String},   {"a_content_type", ValueKind::String},
        {"is_private", ValueKind::Boolean},     {"owner_name", ValueKind::String},
        {"r_lock_owner", ValueKind::String},    {"r_version_label", ValueKind::String},
        {"r_creation_date", ValueKind::String}, {"r_modify_date", ValueKind::String},
        {"i_folder_id", ValueKind::String},     {"r_folder_path", ValueKind::String},
        {"i_cabinet_id", ValueKind::String},    {"r_content_size", ValueKind::Number},
        {"r_modifier", ValueKind::String},
    };
    return list;
}

const AttributeInfo* findAttribute(std::string_view name) {
    for (const auto& a : attributes()) {
        if (name == a.name)
            return &a;
    }
    return nullptr;
}

bool isKnownType(std::string_view type) {
    return type == "ts_sysobject" || type == "ts_document" || type == "ts_folder" || type == "ts_cabinet";
}

std::string quoteString(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        out += c;
        if (c == '\'')
            out += '\'';
    }
    out += '\'';
    return out;
}

namespace {

enum class Tok { End, Ident, String, Number, Comma, LParen, RParen, Star, Eq, Ne, Lt, Le, Gt, Ge, Semicolon };

struct Token {
    Tok kind = Tok::End;
    std::string text; // identifier (lower-cased), string value or number text
    size_t pos = 0;   // 1-based
};

std::string describe(const Token& t) {
    switch (t.kind) {
    case Tok::End:
        return "the end of the query";
    case Tok::Ident:
        return "'" + t.text + "'";
    case Tok::String:
        return "the string " + quoteString(t.text);
    case Tok::Number:
        return "the number " + t.text;
    default:
        return "'" + t.text + "'";
    }
}

[[noreturn]] void syntaxError(size_t pos, const std::string& what) {
    fail(code::QuerySyntax, what + " at position " + std::to_string(pos));
}
[[noreturn]] void semanticError(size_t pos, const std::string& what) {
    fail(code::QuerySemantic, what + " at position " + std::to_string(pos));
}

std::vector<Token> tokenize(std::string_view s) {
    std::vector<Token> out;
    size_t i = 0;
    while (true) {
        while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i])))
            ++i;
        Token t;
        t.pos = i + 1;
        if (i >= s.size()) {
            out.push_back(t);
            return out;
        }
        const char c = s[i];
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            size_t j = i;
            while (j < s.size() && (std::isalnum(static_cast<unsigned char>(s[j])) || s[j] == '_'))
                ++j;
            t.kind = Tok::Ident;
            for (size_t k = i; k < j; ++k)
                t.text += platform::asciiLower(s[k]);
            i = j;
        } else if (std::isdigit(static_cast<unsigned char>(c)) ||
                   (c == '-' && i + 1 < s.size() && std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
            size_t j = i + 1;
            bool dot = false;
            while (j < s.size() &&
                   (std::isdigit(static_cast<unsigned char>(s[j])) || (s[j] == '.' && !dot))) {
                dot = dot || s[j] == '.';
                ++j;
            }
            t.kind = Tok::Number;
            t.text = std::string(s.substr(i, j - i));
            i = j;
        } else if (c == '\'') {
            size_t j = i + 1;
            std::string value;
            while (true) {
                if (j >= s.size())
                    syntaxError(t.pos, "Unterminated string");
                if (s[j] == '\'') {
                    if (j + 1 < s.size() && s[j + 1] == '\'') {
                        value += '\'';
                        j += 2;
                        continue;
                    }
                    ++j;
                    break;
                }
                value += s[j++];
            }
            t.kind = Tok::String;
            t.text = std::move(value);
            i = j;
        } else {
            auto two = s.substr(i, 2);
            if (two == "<>" || two == "!=") {
                t.kind = Tok::Ne;
            } else if (two == "<=") {
                t.kind = Tok::Le;
            } else if (two == ">=") {
                t.kind = Tok::Ge;
            }
            if (t.kind != Tok::End) {
                t.text = std::string(two);
                i += 2;
            } else {
                switch (c) {
                case ',':
                    t.kind = Tok::Comma;
                    break;
                case '(':
                    t.kind = Tok::LParen;
                    break;
                case ')':
                    t.kind = Tok::RParen;
                    break;
                case '*':
                    t.kind = Tok::Star;
                    break;
                case '=':
                    t.kind = Tok::Eq;
                    break;
                case '<':
                    t.kind = Tok::Lt;
                    break;
                case '>':
                    t.kind = Tok::Gt;
                    break;
                case ';':
                    t.kind = Tok::Semicolon;
                    break;
                default:
                    syntaxError(t.pos, std::string("Unexpected character '") + c + "'");
                }
                t.text = std::string(1, c);
                ++i;
            }
        }
        out.push_back(std::move(t));
    }
}

class Parser {
public:
    explicit Parser(std::vector<Token> tokens) : toks_(std::move(tokens)) {}

    Query parseQuery() {
        if (peek().kind == Tok::End)
            syntaxError(1, "Empty query");
        expectKeyword("select");
        Query q;
        if (peek().kind == Tok::Star) {
            next();
            for (const auto& a : attributes())
                q.attributes.push_back(a.name);
        } else {
            while (true) {
                const Token& t = expectIdent("an attribute name");
                if (!findAttribute(t.text))
                    semanticError(t.pos, "Unknown attribute '" + t.text + "'");
                q.attributes.push_back(t.text);
                if (peek().kind != Tok::Comma)
                    break;
                next();
            }
        }
        expectKeyword("from");
        const Token& type = expectIdent("an object type");
        if (!isKnownType(type.text))
            semanticError(type.pos, "Unknown object type '" + type.text + "'");
        q.type = type.text;
        if (isKeyword(peek(), "where")) {
            next();
            q.where = parseOr().condition;
        }
        if (peek().kind == Tok::Semicolon)
            next();
        if (peek().kind != Tok::End)
            syntaxError(peek().pos, "Unexpected " + describe(peek()));
        return q;
    }

private:
    const Token& peek() const { return toks_[at_]; }
    const Token& ahead() const { return toks_[std::min(at_ + 1, toks_.size() - 1)]; }
    const Token& next() {
        const Token& t = toks_[at_];
        if (at_ + 1 < toks_.size())
            ++at_;
        return t;
    }
    static bool isKeyword(const Token& t, const char* word) { return t.kind == Tok::Ident && t.text == word; }
    void expectKeyword(const char* word) {
        if (!isKeyword(peek(), word))
            syntaxError(peek().pos, std::string("Expected '") + word + "' but found " + describe(peek()));
        next();
    }
    const Token& expectIdent(const char* what) {
        if (peek().kind != Tok::Ident || isReserved(peek().text))
            syntaxError(peek().pos, std::string("Expected ") + what + " but found " + describe(peek()));
        return next();
    }
    void expect(Tok kind, const char* text) {
        if (peek().kind != kind)
            syntaxError(peek().pos, std::string("Expected '") + text + "' but found " + describe(peek()));
        next();
    }
    static bool isReserved(const std::string& w) {
        return w == "select" || w == "from" || w == "where" || w == "and" || w == "or" || w == "not" ||
               w == "like";
    }

    // A condition with the levels of 'and', 'or' and 'not' in its tree (none for a comparison
    // or a folder test).
    struct Parsed {
        ConditionPtr condition;
        size_t depth = 0;
    };
    // One more level of parentheses or 'not' open at once; the parser recurses once per level.
    class Nesting {
    public:
        Nesting(Parser& p, size_t pos) : p_(p) {
            if (p_.nesting_ >= kMaxConditionDepth)
                syntaxError(pos, "The condition nests parentheses and 'not' deeper than the limit of " +
                                     std::to_string(kMaxConditionDepth) + " levels");
            ++p_.nesting_;
        }
        ~Nesting() { --p_.nesting_; }
        Nesting(const Nesting&) = delete;
        Nesting& operator=(const Nesting&) = delete;

    private:
        Parser& p_;
    };
    static void checkDepth(size_t depth, size_t pos) {
        if (depth > kMaxConditionDepth)
            syntaxError(pos, "The condition nests 'and', 'or' and 'not' deeper than the limit of " +
                                 std::to_string(kMaxConditionDepth) + " levels");
    }
    // A chain of one operator ("a or b or c") is one level, however long.
    template <class Operand> Parsed chain(const char* keyword, Logical::Kind kind, Operand operand) {
        Parsed left = operand();
        size_t deepest = left.depth;
        bool chained = false;
        while (isKeyword(peek(), keyword)) {
            const size_t pos = next().pos;
            Parsed right = operand();
            deepest = std::max(deepest, right.depth);
            checkDepth(deepest + 1, pos);
            auto c = std::make_unique<Condition>();
            c->node = Logical{kind, std::move(left.condition), std::move(right.condition)};
            left.condition = std::move(c);
            chained = true;
        }
        if (chained)
            left.depth = deepest + 1;
        return left;
    }
    Parsed parseOr() {
        return chain("or", Logical::Or, [this] { return parseAnd(); });
    }
    Parsed parseAnd() {
        return chain("and", Logical::And, [this] { return parseNot(); });
    }
    Parsed parseNot() {
        if (isKeyword(peek(), "not")) {
            const size_t pos = next().pos;
            Nesting level(*this, pos);
            Parsed operand = parseNot();
            checkDepth(operand.depth + 1, pos);
            auto c = std::make_unique<Condition>();
            c->node = Negation{std::move(operand.condition)};
            return {std::move(c), operand.depth + 1};
        }
        return parsePrimary();
    }
    Parsed parsePrimary() {
        auto c = std::make_unique<Condition>();
        if (peek().kind == Tok::LParen) {
            Nesting level(*this, next().pos);
            auto inner = parseOr();
            expect(Tok::RParen, ")");
            return inner;
        }
        if (++terms_ > kMaxConditionTerms)
            syntaxError(peek().pos, "The condition has more comparisons and folder tests than the limit of " +
                                        std::to_string(kMaxConditionTerms));
        if (isKeyword(peek(), "folder") && ahead().kind == Tok::LParen) {
            next();
            next();
            FolderTest f;
            if (isKeyword(peek(), "id")) {
                next();
                expect(Tok::LParen, "(");
                if (peek().kind != Tok::String)
                    syntaxError(peek().pos, "Expected an object id string but found " + describe(peek()));
                const Token& id = next();
                if (id.text.size() != 16 ||
                    id.text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
                    semanticError(id.pos, "'" + id.text + "' is not an object id");
                f.byId = true;
                f.pathOrId = id.text;
                expect(Tok::RParen, ")");
            } else if (peek().kind == Tok::String) {
                const Token& p = next();
                if (p.text.empty() || p.text[0] != '/')
                    semanticError(p.pos, "Folder path " + quoteString(p.text) + " does not start with '/'");
                f.pathOrId = p.text;
            } else {
                syntaxError(peek().pos, "Expected a folder path or ID(...) but found " + describe(peek()));
            }
            if (peek().kind == Tok::Comma) {
                next();
                if (!isKeyword(peek(), "descend"))
                    syntaxError(peek().pos, "Expected 'descend' but found " + describe(peek()));
                next();
                f.descend = true;
            }
            expect(Tok::RParen, ")");
            c->node = std::move(f);
            return {std::move(c), 0};
        }
        const Token& attr = expectIdent("an attribute name, 'folder', 'not' or '('");
        const AttributeInfo* info = findAttribute(attr.text);
        if (!info)
            semanticError(attr.pos, "Unknown attribute '" + attr.text + "'");
        Comparison cmp;
        cmp.attribute = attr.text;
        const Token& op = peek();
        switch (op.kind) {
        case Tok::Eq:
            cmp.op = CompareOp::Equal;
            break;
        case Tok::Ne:
            cmp.op = CompareOp::NotEqual;
            break;
        case Tok::Lt:
            cmp.op = CompareOp::Less;
            break;
        case Tok::Le:
            cmp.op = CompareOp::LessEqual;
            break;
        case Tok::Gt:
            cmp.op = CompareOp::Greater;
            break;
        case Tok::Ge:
            cmp.op = CompareOp::GreaterEqual;
            break;
        default:
            if (isKeyword(op, "like")) {
                cmp.op = CompareOp::Like;
            } else if (isKeyword(op, "not") && isKeyword(ahead(), "like")) {
                next();
                cmp.op = CompareOp::NotLike;
            } else {
                syntaxError(op.pos, "Expected a comparison operator but found " + describe(op));
            }
        }
        next();
        const Token& v = next();
        Literal lit;
        if (v.kind == Tok::String) {
            lit.kind = ValueKind::String;
            lit.text = v.text;
        } else if (v.kind == Tok::Number) {
            lit.kind = ValueKind::Number;
            lit.text = v.text;
            lit.number = std::strtod(v.text.c_str(), nullptr);
        } else if (isKeyword(v, "true") || isKeyword(v, "false")) {
            lit.kind = ValueKind::Boolean;
            lit.boolean = v.text == "true";
            lit.text = v.text;
        } else {
            syntaxError(v.pos, "Expected a string, a number, true or false but found " + describe(v));
        }
        if (lit.kind != info->kind) {
            static const char* names[] = {"a string", "true or false", "a number"};
            semanticError(v.pos, "Attribute '" + attr.text + "' is compared with " +
                                     names[static_cast<int>(info->kind)] + ", not with " + describe(v));
        }
        if ((cmp.op == CompareOp::Like || cmp.op == CompareOp::NotLike) && info->kind != ValueKind::String)
            semanticError(op.pos, "'like' needs a string attribute");
        cmp.value = std::move(lit);
        c->node = std::move(cmp);
        return {std::move(c), 0};
    }

    std::vector<Token> toks_;
    size_t at_ = 0;
    size_t nesting_ = 0;
    size_t terms_ = 0;
};

} // namespace

Query parseTql(std::string_view text) {
    return Parser(tokenize(text)).parseQuery();
}

} // namespace lf::tessarel::tql
