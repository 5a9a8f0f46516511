#pragma once

#include <map>
#include <string>
#include <string_view>

#include "server/service_store.h"

namespace velquist::service {

using FormFields = std::map<std::string, std::string>;

// Pairs of a query string or form body, decoded; the first of a repeated name counts and a pair
// that does not decode is left out.
FormFields ParseFormFields(std::string_view text);

std::string HtmlEscape(std::string_view text);

// The account web site: HTML pages in UTF-8.
std::string HomePage();
std::string NotFoundPage();
std::string LostPasswordPage();
// The registration form, showing `problem` above it and the entered values except passwords.
std::string RegisterPage(const FormFields& entered = {}, const std::string& problem = "");

struct Registration {
    bool registered = false;
    std::string page;  // the success page, or the form again with what is wrong
};

// A posted registration form ("accname", "password", "password2", "truename", "comname").
Registration Register(ServiceStore& store, const FormFields& form);

}  // namespace velquist::service
