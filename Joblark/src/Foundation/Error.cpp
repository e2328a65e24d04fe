#include "joblark/Foundation/Error.hpp"

#include <exception>
#include <stdexcept>

namespace joblark {

ErrorPtr currentExceptionAsError() {
    try {
        throw;
    } catch (const ErrorPtr& e) {
        return e ? e : makeError("Unknown error");
    } catch (const Error& e) {
        return e.clone();
    } catch (const std::exception& e) {
        return makeError(e.what());
    } catch (...) {
        return makeError("Unknown error");
    }
}

} // namespace joblark

#include <cstdio>
#include <cstdlib>

namespace joblark {
void fatalError(const char* message) {
    std::fprintf(stderr, "Fatal error: %s\n", message);
    std::fflush(stderr);
    std::abort();
}
} // namespace joblark
