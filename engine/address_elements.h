#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace velquist {

// Finds the displayed-address elements of a result page by plain search. It gives the same
// elements, in the same order, as the non-greedy patterns "<cite(.*?)>(.*?)</cite>" (organic
// results) and "<cite>(.*?)</cite>" (advertisements), but in one pass over the text whatever
// the page holds: a regex engine backtracks over the rest of the page after every element that
// is never closed, and gives up on long damaged pages.
class AddressElements {
  public:
    enum class Form {
        WithAttributes,  // "<cite", anything up to the first ">", then up to "</cite>"
        Bare,            // "<cite>" then up to "</cite>"
    };

    AddressElements(std::string_view text, Form form) : m_text(text), m_form(form) {}

    // The next whole element, from its "<cite" to its "</cite>" inclusive; nothing once no
    // further element is complete (no later one can be then, since each needs a later end).
    std::optional<std::string_view> next();

  private:
    std::string_view m_text;
    Form m_form;
    std::size_t m_from = 0;
    bool m_done = false;
};

}  // namespace velquist
