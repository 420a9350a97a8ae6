#pragma once
// A parsed query as one parameterised SELECT statement, for each database's own SQL: the query's
// strings, numbers and folders travel as parameters, never as statement text.
#include "tessarel/tql.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace lf::tessarel::tql {

enum class Dialect { Sqlite, Postgres };

using SqlParam = std::variant<std::string, std::int64_t, double, bool>;

struct SqlStatement {
    std::string sql;
    std::vector<SqlParam> params;
};

// The column expression of an attribute, over the objects table as "o".
std::string sqlColumn(const std::string& attribute);

// " AND o.cabinet_id IN (...)": the cabinets the user of that placeholder sees, on the embedded
// database.
std::string visibleCabinetsClause(const std::string& placeholder);

// The statement for q. visibleTo, when given, keeps to the cabinets that user sees (the embedded
// database; the server applies its own rules to the role that connected). folderPath turns a
// folder test into the path of its folder ("" for the root) or fails.
SqlStatement compileQuery(const Query& q, Dialect dialect, const std::optional<std::string>& visibleTo,
                          const std::function<std::string(const FolderTest&)>& folderPath);

} // namespace lf::tessarel::tql
