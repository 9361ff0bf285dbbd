// UtilExpression.cpp - the exceptions of the expression evaluator.
#include <UtilExpression.h>

namespace Util {

#define UTIL_EXPRESSION_EXCEPTION(Name, defaultMessage)                                                   \
    Name::Name(const char* module, const char* file, const char* revision, int line)                      \
        : Port::Exception(module, file, revision, line, defaultMessage) {}                                \
    Name::Name(const char* module, const char* file, const char* revision, int line, const char* message) \
        : Port::Exception(module, file, revision, line, message) {}                                       \
    Name::Name(const Name& other) = default;                                                              \
    Name::~Name() = default;

UTIL_EXPRESSION_EXCEPTION(IntOverflowException, "Integer overflow\n")
UTIL_EXPRESSION_EXCEPTION(DivZeroException, "Division by zero\n")
UTIL_EXPRESSION_EXCEPTION(ParserException, "Parser error\n")
UTIL_EXPRESSION_EXCEPTION(NoVarsException, "No variables defined\n")
UTIL_EXPRESSION_EXCEPTION(UndefVarException, "Undefined variable\n")

#undef UTIL_EXPRESSION_EXCEPTION

}  // namespace Util
