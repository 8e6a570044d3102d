#include "common/panic.hpp"

namespace norvel {

void panic(std::string message, std::source_location where) {
    throw Panic(std::move(message), where);
}

}  // namespace norvel
