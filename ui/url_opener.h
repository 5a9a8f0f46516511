#pragma once

#include <QString>
#include <functional>

namespace velquist::ui {

// Opens a web address in the user's default browser. A result above 32 means it was handed
// over; 32 or less is an error code with the meanings CHyperLink lists.
using UrlOpener = std::function<int(const QString& address)>;

// The code the default opener gives when no program took the address.
inline constexpr int kOpenNoAssociation = 31;
inline constexpr int kOpenSucceeded = 33;

// Opens `address` through the current opener: QDesktopServices unless a test replaced it.
int OpenWebAddress(const QString& address);
// nullptr-like empty function puts QDesktopServices back.
void SetUrlOpener(UrlOpener opener);

}  // namespace velquist::ui
