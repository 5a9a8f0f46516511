#include "engine/address_elements.h"

namespace velquist {

namespace {
constexpr std::string_view kOpenWithAttributes = "<cite";
constexpr std::string_view kOpenBare = "<cite>";
constexpr std::string_view kClose = "</cite>";
}  // namespace

std::optional<std::string_view> AddressElements::next() {
    if (m_done) return std::nullopt;
    const std::string_view open = m_form == Form::Bare ? kOpenBare : kOpenWithAttributes;
    const std::size_t start = m_text.find(open, m_from);
    std::size_t contentFrom = std::string_view::npos;
    if (start != std::string_view::npos) {
        contentFrom = start + open.size();
        if (m_form == Form::WithAttributes) {
            const std::size_t tagEnd = m_text.find('>', contentFrom);
            contentFrom = tagEnd == std::string_view::npos ? tagEnd : tagEnd + 1;
        }
    }
    const std::size_t close =
        contentFrom == std::string_view::npos ? contentFrom : m_text.find(kClose, contentFrom);
    if (close == std::string_view::npos) {
        // A later "<cite" has its ">" and "</cite>" no earlier than this one's, so none follows.
        m_done = true;
        return std::nullopt;
    }
    m_from = close + kClose.size();
    return m_text.substr(start, m_from - start);
}

}  // namespace velquist
