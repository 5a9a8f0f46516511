#pragma once

namespace velquist::markers {

// Exact byte strings of the engine's result pages.
inline constexpr const char* kPage = "id=\"m-spread-left\"";
inline constexpr const char* kVerification = "id=\"verifyform\"";
inline constexpr const char* kOrganicStart = "<ul class=\"result\">";
inline constexpr const char* kOrganicEnd = "<ul id=\"e_idea_pp_vip_bottom\"";
inline constexpr const char* kNextLinkStart = "id=\"snext\" href=\"";
inline constexpr const char* kNextLinkEnd = "\">";

inline constexpr const char* kTopAdsStart = "<ul id=\"e_idea_pp\"";
inline constexpr const char* kTopAdsEnd = "<ul class=\"result\">";
inline constexpr const char* kBottomAdsStart = "<ul id=\"e_idea_pp_vip_bottom\"";
inline constexpr const char* kBottomAdsEnd = "<div id=\"side\">";
inline constexpr const char* kRightAdsStart = "id=\"rightbox\"";
inline constexpr const char* kRightAdsEnd = "</ul>";
inline constexpr const char* kAdAddressTag = "<cite>";

inline constexpr const char* kLeftColumn = "左";
inline constexpr const char* kRightColumn = "右";

}  // namespace velquist::markers
