#pragma once

#include <QStringView>
#include <optional>

namespace IntegerText {

// A decimal integer with an optional sign that fits in int; nothing else, not even blanks: each
// caller trims its own way first.
std::optional<int> parse(QStringView text);

} // namespace IntegerText
