#include "corvella/ids/ids.h"

#include <utility>

namespace corvella {

quenmark::Slug product_id()
{
    static quenmark::Slug const product = [] {
        auto slug = quenmark::Slug::parse("corvella");
        if (!slug)
            quenmark::fail_internal("the built-in product identifier is not a valid slug");
        return std::move(*slug);
    }();
    return product;
}

bool is_new_word(std::string_view text)
{
    if (text.size() != 3)
        return false;
    auto lower = [](char letter) { return static_cast<char>(letter >= 'A' && letter <= 'Z' ? letter + ('a' - 'A') : letter); };
    return lower(text[0]) == 'n' && lower(text[1]) == 'e' && lower(text[2]) == 'w';
}

} // namespace corvella
