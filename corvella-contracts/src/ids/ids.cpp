#include "corvella/ids/ids.h"

namespace corvella {

bool is_new_word(std::string_view text)
{
    if (text.size() != 3)
        return false;
    auto lower = [](char letter) { return static_cast<char>(letter >= 'A' && letter <= 'Z' ? letter + ('a' - 'A') : letter); };
    return lower(text[0]) == 'n' && lower(text[1]) == 'e' && lower(text[2]) == 'w';
}

} // namespace corvella
