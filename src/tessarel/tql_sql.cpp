#include "tessarel/tql_sql.h"

#include "tessarel/errors.h"
#include "tessarel/storage.h"

namespace lf::tessarel::tql {

namespace {

class Compiler {
public:
    Compiler(Dialect d, const std::function<std::string(const FolderTest&)>& folderPath)
        : dialect_(d), folderPath_(folderPath) {}

    SqlStatement out;

    // The placeholder of a new parameter; the server's carries its type, as its statements are
    // typed before they run.
    std::string param(SqlParam p) {
        const size_t index = out.params.size() + 1;
        std::string cast;
        if (dialect_ == Dialect::Postgres) {
            if (std::holds_alternative<std::string>(p))
                cast = "::text";
            else if (std::holds_alternative<std::int64_t>(p))
                cast = "::int8";
            else if (std::holds_alternative<double>(p))
                cast = "::float8";
            else
                cast = "::boolean";
        } else if (const bool* b = std::get_if<bool>(&p)) {
            // The embedded database keeps true and false as 1 and 0.
            p = std::int64_t{*b};
        }
        out.params.push_back(std::move(p));
        return dialect_ == Dialect::Postgres ? "$" + std::to_string(index) + cast : "?";
    }

    void condition(const Condition& c) {
        if (const auto* cmp = std::get_if<Comparison>(&c.node)) {
            comparison(*cmp);
        } else if (const auto* f = std::get_if<FolderTest>(&c.node)) {
            const std::string path = folderPath_(*f);
            if (!f->descend) {
                out.sql += "(o.parent_path = " + param(path) + ")";
            } else if (path.empty()) {
                out.sql += "(o.parent_path <> '')";
            } else {
                // One range of the tree index: the folder itself and every path below it ("/" sorts
                // just before "0"). The range also holds siblings such as "Storage 2", which the
                // second test drops: a path of the range that is not the folder's own and sorts at
                // or after PATH + "/" starts with PATH + "/".
                // The placeholders are made one by one: their parameters go in the order they appear.
                const std::string from = param(path);
                const std::string to = param(path + "0");
                const std::string self = param(path);
                const std::string below = param(path + "/");
                out.sql += "(o.parent_path >= " + from + " AND o.parent_path < " + to +
                           " AND (o.parent_path = " + self + " OR o.parent_path >= " + below + "))";
            }
        } else if (const auto* l = std::get_if<Logical>(&c.node)) {
            // A chain of one operator ("a or b or c" groups to the left) becomes one flat list
            // in one pair of parentheses: the database parses it without nesting, so only the
            // levels the parser bounds (kMaxConditionDepth) nest in the statement.
            std::vector<const Condition*> operands{l->right.get()};
            const Condition* left = l->left.get();
            while (const auto* more = std::get_if<Logical>(&left->node)) {
                if (more->kind != l->kind)
                    break;
                operands.push_back(more->right.get());
                left = more->left.get();
            }
            operands.push_back(left);
            out.sql += "(";
            for (auto it = operands.rbegin(); it != operands.rend(); ++it) {
                if (it != operands.rbegin())
                    out.sql += l->kind == Logical::And ? " AND " : " OR ";
                condition(**it);
            }
            out.sql += ")";
        } else if (const auto* n = std::get_if<Negation>(&c.node)) {
            out.sql += "(NOT ";
            condition(*n->operand);
            out.sql += ")";
        }
    }

private:
    void comparison(const Comparison& cmp) {
        static const char* ops[] = {" = ", " <> ", " < ", " <= ", " > ", " >= ", " LIKE ", " NOT LIKE "};
        const bool like = cmp.op == CompareOp::Like || cmp.op == CompareOp::NotLike;
        std::string column = sqlColumn(cmp.attribute);
        SqlParam value;
        switch (cmp.value.kind) {
        case ValueKind::String:
            value = cmp.value.text;
            break;
        case ValueKind::Boolean:
            value = cmp.value.boolean;
            break;
        case ValueKind::Number:
            value = cmp.value.number;
            break;
        }
        if (like && dialect_ == Dialect::Postgres) {
            // The server's LIKE takes a backslash as its escape unless told otherwise, and compares
            // text only; the embedded database's has no escape and compares any value as text.
            if (cmp.value.kind != ValueKind::String) {
                column = "(" + column + ")::text";
                value = cmp.value.text;
            }
            out.sql += "(" + column + ops[static_cast<int>(cmp.op)] + param(std::move(value)) + " ESCAPE '')";
            return;
        }
        out.sql += "(" + column + ops[static_cast<int>(cmp.op)] + param(std::move(value)) + ")";
    }

    Dialect dialect_;
    const std::function<std::string(const FolderTest&)>& folderPath_;
};

} // namespace

std::string visibleCabinetsClause(const std::string& placeholder) {
    // Public cabinets and the user's own private ones. Cabinets are the objects with no parent
    // path, found through the tree index.
    return " AND o.cabinet_id IN (SELECT id FROM objects WHERE parent_path = '' AND type = 'ts_cabinet' AND "
           "(is_private = 0 OR owner_name = " +
           placeholder + "))";
}

std::string sqlColumn(const std::string& attribute) {
    if (attribute == "r_object_id")
        return "o.id";
    if (attribute == "object_name")
        return "o.name";
    if (attribute == "r_object_type")
        return "o.type";
    if (attribute == "a_content_type")
        return "o.content_type";
    if (attribute == "is_private")
        return "o.is_private";
    if (attribute == "owner_name")
        return "o.owner_name";
    if (attribute == "r_lock_owner")
        return "o.lock_owner";
    if (attribute == "r_version_label")
        return "o.version_label";
    if (attribute == "r_creation_date")
        return "o.creation_date";
    if (attribute == "r_modify_date")
        return "o.modify_date";
    if (attribute == "i_folder_id")
        return "coalesce(o.folder_id, '')";
    if (attribute == "r_folder_path")
        return "(CASE WHEN o.type = 'ts_document' THEN o.parent_path ELSE o.parent_path || '/' || o.name "
               "END)";
    if (attribute == "i_cabinet_id")
        return "o.cabinet_id";
    if (attribute == "r_content_size")
        return "o.content_size";
    if (attribute == "r_modifier")
        return "o.modifier";
    fail(code::QuerySemantic, "Unknown attribute '" + attribute + "'");
}

SqlStatement compileQuery(const Query& q, Dialect dialect, const std::optional<std::string>& visibleTo,
                          const std::function<std::string(const FolderTest&)>& folderPath) {
    Compiler c(dialect, folderPath);
    std::string& sql = c.out.sql;
    sql = "SELECT ";
    for (size_t i = 0; i < q.attributes.size(); ++i) {
        if (i)
            sql += ", ";
        sql += sqlColumn(q.attributes[i]);
    }
    sql += " FROM objects o WHERE ";
    if (q.type == "ts_document")
        sql += "o.type = 'ts_document'";
    else if (q.type == "ts_folder")
        sql += "o.type IN ('ts_folder', 'ts_cabinet')";
    else if (q.type == "ts_cabinet")
        sql += "o.type = 'ts_cabinet'";
    else
        sql += "1 = 1";
    if (visibleTo) {
        const std::string placeholder = c.param(*visibleTo);
        sql += visibleCabinetsClause(placeholder);
    }
    if (q.where) {
        sql += " AND ";
        c.condition(*q.where);
    }
    return std::move(c.out);
}

} // namespace lf::tessarel::tql

namespace lf::tessarel {

std::string queryFolderPath(Storage& storage, const tql::FolderTest& f, const Viewer& v) {
    if (f.byId) {
        auto r = storage.objectById(f.pathOrId, v);
        if (!r || !r->isFolder())
            fail(code::ObjectNotFound, "There is no folder with the id '" + f.pathOrId + "'");
        return r->ownPath();
    }
    std::string path = f.pathOrId;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    if (path == "/")
        return "";
    const auto slash = path.rfind('/');
    auto r = storage.objectByPath(path.substr(0, slash), path.substr(slash + 1), v, true);
    if (!r || !r->isFolder())
        fail(code::ObjectNotFound, "There is no folder " + tql::quoteString(f.pathOrId));
    return path;
}

} // namespace lf::tessarel
