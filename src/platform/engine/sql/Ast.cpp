#include "Ast.h"

namespace vopa::engine::sql {

// Out of line because Expr, TableRef and SelectStmt hold each other through unique_ptr and the
// destructors need the complete types.
Expr::Expr() = default;
Expr::~Expr() = default;
Expr::Expr(Expr&&) noexcept = default;
Expr& Expr::operator=(Expr&&) noexcept = default;

TableRef::TableRef() = default;
TableRef::~TableRef() = default;
TableRef::TableRef(TableRef&&) noexcept = default;
TableRef& TableRef::operator=(TableRef&&) noexcept = default;

SelectStmt::SelectStmt() = default;
SelectStmt::~SelectStmt() = default;
SelectStmt::SelectStmt(SelectStmt&&) noexcept = default;
SelectStmt& SelectStmt::operator=(SelectStmt&&) noexcept = default;

std::string QualifiedName::text() const {
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) out += '.';
        out += parts[i];
    }
    return out;
}

}  // namespace vopa::engine::sql
