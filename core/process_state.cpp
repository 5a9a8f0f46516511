#include "core/process_state.h"

#include "core/text.h"

namespace velquist {

std::string ProcessState::userAgent() const {
    std::lock_guard lock(m_mutex);
    return m_userAgent;
}

void ProcessState::setUserAgent(const std::string& text) {
    std::lock_guard lock(m_mutex);
    m_userAgent = Utf8Prefix(text, kUserAgentMaxBytes);
}

std::vector<PromotionSite> ProcessState::promotionSites() const {
    std::lock_guard lock(m_mutex);
    return m_sites;
}

void ProcessState::setPromotionSites(std::vector<PromotionSite> sites) {
    std::lock_guard lock(m_mutex);
    m_sites = std::move(sites);
}

std::vector<STRUCT_TREEDATA> ProcessState::treeItems() const {
    std::lock_guard lock(m_mutex);
    return m_treeItems;
}

void ProcessState::setTreeItems(std::vector<STRUCT_TREEDATA> items) {
    std::lock_guard lock(m_mutex);
    m_treeItems = std::move(items);
}

ProcessState& Process() {
    static ProcessState state;
    return state;
}

}  // namespace velquist
