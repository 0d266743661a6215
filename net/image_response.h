// What tells an image response from something else, and the Referer each
// step of an image's redirect gets: the rules of the image fetcher that
// need no transfer to be decided.
#pragma once

#include <string>
#include <string_view>

namespace vexel::net {

// The Referer for one step of a redirect from the chapter page `page`:
// the whole page address while the step stays on the page's origin, only
// the origin ("http://host:port/") on another one, and none from https to
// http, as browsers send it by default.
std::string RefererForRedirect(const std::string& page, const std::string& target);

// A body that a browser would show as a web page: "<!DOCTYPE html" or
// "<html" after white space, in any case.
bool LooksLikeHtml(std::string_view head);

// A Content-Type of text/html, whatever its parameters; false for none.
bool IsHtmlContentType(const char* content_type);

}  // namespace vexel::net
