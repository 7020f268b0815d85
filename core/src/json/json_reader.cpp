#include "json/json_reader.h"

namespace ovra::json {

// Placeholder storage until the reader lands.
struct Document::Storage {};

Document::Document() = default;
Document::Document(Document&&) noexcept = default;
Document& Document::operator=(Document&&) noexcept = default;
Document::~Document() = default;

std::string ReadError::display() const {
    return message + " at line " + std::to_string(line) + " column " + std::to_string(column);
}

Result<Document, ReadError> parse_document(std::string_view text) {
    (void)text;
    return fail(ReadError{"reader not built yet", 1, 0});
}

}  // namespace ovra::json
