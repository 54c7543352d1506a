// Contact table contents as comparable text, shared by the contact and settings tests.
#pragma once

#include <string>
#include <vector>

#include "contacts/contact_table.h"

namespace contact_rows {

inline std::vector<std::string> Names(const ContactTable& table) {
    return std::vector<std::string>(table.names, table.names + table.count);
}

// "name/number/carrier" for each live slot, in slot order.
inline std::vector<std::string> Rows(const ContactTable& table) {
    std::vector<std::string> rows;
    for (int row = 0; row < table.count; ++row)
        rows.push_back(std::string(table.names[row]) + "/" + table.numbers[row] + "/" +
                       std::to_string(table.carriers[row]));
    return rows;
}

}  // namespace contact_rows
