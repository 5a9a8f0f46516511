#include "services/http_down_file.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <vector>

#include "core/text.h"
#include "services/unique_fd.h"

namespace velquist {

namespace {

using Clock = std::chrono::steady_clock;
using Result = CHttpDownFile::Result;

constexpr std::size_t kPieceBytes = 1048576;
constexpr std::size_t kRequestBufferBytes = 10240;
constexpr std::size_t kPackageNameMaxBytes = 200;
// Waits are cut into slices this long so that a cancel is noticed soon.
constexpr std::chrono::milliseconds kWaitSlice{100};

// A browser-like identity, as the vendor's download servers have always seen.
constexpr const char* kDownloadUserAgent =
    "Mozilla/4.0 (compatible; MSIE 8.0; Windows NT 6.1; Trident/4.0; SLCC2; .NET CLR 2.0.50727; "
    ".NET CLR 3.5.30729; .NET CLR 3.0.30729; Media Center PC 6.0)";

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return lower;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && Lower(text.substr(0, prefix.size())) == prefix;
}

bool IsDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Spaces and bytes beyond ASCII travel escaped; control characters cannot travel at all.
std::optional<std::string> RequestTarget(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string target;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) return std::nullopt;
        if (byte == ' ' || byte >= 0x80) {
            target += '%';
            target += kHex[byte >> 4];
            target += kHex[byte & 0x0F];
        } else {
            target += c;
        }
    }
    return target;
}

// The header value of `name` (any case), or nullopt; `conflict` is set when the header comes
// more than once with different values.
std::optional<std::string> HeaderValue(std::string_view header, std::string_view name,
                                       bool* conflict = nullptr) {
    std::optional<std::string> found;
    const std::string wanted = Lower(name);
    std::size_t start = header.find('\n');  // after the status line
    while (start != std::string_view::npos && start + 1 < header.size()) {
        ++start;
        std::size_t end = header.find('\n', start);
        std::string_view line = header.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const auto colon = line.find(':');
        if (colon != std::string_view::npos && Lower(line.substr(0, colon)) == wanted) {
            const std::string value = TrimWhitespace(line.substr(colon + 1));
            if (found && *found != value && conflict) *conflict = true;
            if (!found) found = value;
        }
        start = end;
    }
    return found;
}

// The status code of "HTTP/1.x CODE REASON", or 0.
int StatusCode(std::string_view header) {
    if (!StartsWithNoCase(header, "http/") || header.size() < 12) return 0;
    const auto space = header.find(' ');
    if (space == std::string_view::npos || header.size() < space + 4) return 0;
    const std::string_view digits = header.substr(space + 1, 3);
    if (!IsDigits(digits)) return 0;
    return (digits[0] - '0') * 100 + (digits[1] - '0') * 10 + (digits[2] - '0');
}

std::string FirstLine(std::string_view header) {
    const std::string_view line = header.substr(0, header.find_first_of("\r\n"));
    return Utf8Prefix(line, 120);
}

// A redirect target made absolute against the address it came from.
std::string ResolveLocation(const DownloadUrl& from, const std::string& location) {
    if (location.find("://") != std::string::npos) return location;
    const std::string origin = "http://" + from.host + ":" + from.port;
    if (location.rfind("//", 0) == 0) return "http:" + location;
    if (!location.empty() && location[0] == '/') return origin + location;
    std::string base = from.target.substr(0, from.target.find('?'));
    base.resize(base.rfind('/') + 1);
    return origin + base + location;
}

class Socket {
  public:
    Socket(const std::atomic<bool>& cancelled, std::chrono::milliseconds idleLimit)
        : m_cancelled(cancelled), m_idleLimit(idleLimit) {}

    int fd() const { return m_fd.get().fd; }

    // Waits until the socket is ready for `events`; TimedOut after the idle limit.
    Result wait(short events) const {
        const auto deadline = Clock::now() + m_idleLimit;
        for (;;) {
            if (m_cancelled) return Result::Cancelled;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return Result::TimedOut;
            pollfd item{fd(), events, 0};
            const int ready =
                ::poll(&item, 1, static_cast<int>(std::min(left, kWaitSlice).count()));
            if (ready > 0) return Result::Done;
            if (ready < 0 && errno != EINTR) return Result::ClosedEarly;
        }
    }

    Result connect(const DownloadUrl& url, std::string& detail) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (const int rc = ::getaddrinfo(url.host.c_str(), url.port.c_str(), &hints, &found);
            rc != 0) {
            detail = "cannot resolve " + url.host + ": " + ::gai_strerror(rc);
            return Result::ConnectFailed;
        }
        const std::unique_ptr<addrinfo, void (*)(addrinfo*)> addresses(found, ::freeaddrinfo);
        Result last = Result::ConnectFailed;
        for (const addrinfo* a = found; a; a = a->ai_next) {
            m_fd = AdoptFd(::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                    a->ai_protocol));
            if (!m_fd) continue;
            if (::connect(fd(), a->ai_addr, a->ai_addrlen) != 0) {
                if (errno != EINPROGRESS) continue;
                last = wait(POLLOUT);
                if (last == Result::Cancelled) return last;
                if (last != Result::Done) continue;
                int error = 0;
                socklen_t length = sizeof error;
                if (::getsockopt(fd(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
                    last = Result::ConnectFailed;
                    continue;
                }
            }
            return Result::Done;
        }
        m_fd.reset();
        detail = "cannot connect to " + url.host + ":" + url.port;
        return last == Result::TimedOut ? Result::TimedOut : Result::ConnectFailed;
    }

    Result sendAll(std::string_view data) {
        while (!data.empty()) {
            if (const Result ready = wait(POLLOUT); ready != Result::Done) return ready;
            const ssize_t sent = ::send(fd(), data.data(), data.size(), MSG_NOSIGNAL);
            if (sent < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
                return Result::ClosedEarly;
            }
            data.remove_prefix(static_cast<std::size_t>(sent));
        }
        return Result::Done;
    }

    // At most `size` bytes; 0 read bytes with Done means the peer closed.
    Result receive(char* buffer, std::size_t size, std::size_t& got) {
        got = 0;
        for (;;) {
            if (const Result ready = wait(POLLIN); ready != Result::Done) return ready;
            const ssize_t n = ::recv(fd(), buffer, size, 0);
            if (n >= 0) {
                got = static_cast<std::size_t>(n);
                return Result::Done;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                return Result::ClosedEarly;
        }
    }

  private:
    const std::atomic<bool>& m_cancelled;
    std::chrono::milliseconds m_idleLimit;
    UniqueFd m_fd;
};

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

std::optional<DownloadUrl> SplitDownloadUrl(std::string_view url) {
    std::string_view rest = url;
    if (StartsWithNoCase(rest, "http://")) {
        rest.remove_prefix(7);
    } else if (rest.find("://") != std::string_view::npos) {
        return std::nullopt;  // only plain HTTP is spoken here
    }
    rest = rest.substr(0, rest.find('#'));
    const auto pathStart = rest.find_first_of("/?");
    const std::string_view authority = rest.substr(0, pathStart);
    std::string_view target =
        pathStart == std::string_view::npos ? std::string_view() : rest.substr(pathStart);
    if (authority.empty() || authority.find('@') != std::string_view::npos) return std::nullopt;

    DownloadUrl parts;
    std::string_view host = authority;
    std::string_view port;
    if (host.front() == '[') {
        const auto close = host.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        port = host.substr(close + 1);
        host = host.substr(1, close - 1);
        if (!port.empty() && port.front() != ':') return std::nullopt;
        if (!port.empty()) port.remove_prefix(1);
    } else if (const auto colon = host.rfind(':'); colon != std::string_view::npos) {
        port = host.substr(colon + 1);
        host = host.substr(0, colon);
    }
    if (host.empty()) return std::nullopt;
    for (const char c : host) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F || c == '/' || c == '\\') return std::nullopt;
    }
    if (!port.empty()) {
        int number = 0;
        const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
        if (!IsDigits(port) || error != std::errc() || end != port.data() + port.size() ||
            number < 1 || number > 65535)
            return std::nullopt;
        parts.port = std::to_string(number);
    }
    parts.host = std::string(host);
    auto encoded = RequestTarget(target);
    if (!encoded) return std::nullopt;
    if (encoded->empty() || encoded->front() != '/') encoded->insert(0, "/");
    parts.target = std::move(*encoded);
    return parts;
}

std::string PackageFileName(std::string_view url) {
    std::string_view rest = url.substr(0, url.find('#'));
    if (const auto scheme = rest.find("://"); scheme != std::string_view::npos)
        rest.remove_prefix(scheme + 3);
    const auto pathStart = rest.find_first_of("/?");
    rest = pathStart == std::string_view::npos ? std::string_view() : rest.substr(pathStart);
    std::string name(
        rest.substr(rest.rfind('/') == std::string_view::npos ? 0 : rest.rfind('/') + 1));
    if (const auto zip = name.find(".zip"); zip != std::string::npos) name.resize(zip + 4);
    name = Utf8Prefix(name, kPackageNameMaxBytes);
    const bool unusable = name.empty() || name == "." || name == ".." || name == "temp" ||
                          std::any_of(name.begin(), name.end(), [](char c) {
                              const auto byte = static_cast<unsigned char>(c);
                              return byte < 0x20 || byte == 0x7F || c == '\\' || c == '/';
                          });
    return unusable ? std::string(kFallbackPackageName) : name;
}

CHttpDownFile::CHttpDownFile(UserNotifier* notifier, Limits limits)
    : m_notifier(notifier), m_limits(limits) {}

CHttpDownFile::Outcome CHttpDownFile::Download(const std::string& url,
                                               const std::string& targetFolder) {
    std::string current = url;
    for (int redirects = 0;; ++redirects) {
        m_received = 0;
        m_total = 0;
        const auto parts = SplitDownloadUrl(current);
        if (!parts) return {Result::BadUrl, {}, "not a plain http:// address: " + current};
        std::string location;
        Outcome outcome = fetchOnce(*parts, targetFolder, location);
        if (outcome.ok() || location.empty()) return outcome;
        if (redirects >= m_limits.maxRedirects)
            return {Result::TooManyRedirects,
                    {},
                    "more than " + std::to_string(m_limits.maxRedirects) + " redirects"};
        current = ResolveLocation(*parts, location);
    }
}

CHttpDownFile::Outcome CHttpDownFile::fetchOnce(const DownloadUrl& url,
                                                const std::string& targetFolder,
                                                std::string& redirect) {
    Outcome outcome;
    Socket socket(m_cancelled, m_limits.idleLimit);
    if ((outcome.result = socket.connect(url, outcome.detail)) != Result::Done) return outcome;

    std::string request;
    request.reserve(kRequestBufferBytes);
    request += "GET " + url.target + " HTTP/1.1\r\n";
    request += "Accept: */*\r\n";
    request += "Accept-Encoding: gzip, deflate\r\n";
    request += "Cache-Control: no-cache\r\n";
    request += "Host: " + url.host + (url.port == "80" ? "" : ":" + url.port) + "\r\n";
    request += std::string("User-Agent: ") + kDownloadUserAgent + "\r\n";
    request += "Connection: Keep-Alive\r\n";
    request += "\r\n";
    if (request.size() > kRequestBufferBytes)
        return {Result::BadUrl, {}, "the address is too long for a request"};
    if ((outcome.result = socket.sendAll(request)) != Result::Done) {
        outcome.detail = "the request could not be sent";
        return outcome;
    }

    // One byte at a time, so that nothing of the body is read with the header.
    std::string header;
    int lineBreaks = 0;
    while (lineBreaks <= 3) {
        if (header.size() >= m_limits.maxHeaderBytes)
            return {Result::HeaderTooLarge,
                    {},
                    "no end of the answer header within " +
                        std::to_string(m_limits.maxHeaderBytes) + " bytes"};
        char c = 0;
        std::size_t got = 0;
        if ((outcome.result = socket.receive(&c, 1, got)) != Result::Done) {
            outcome.detail = "while waiting for the answer header";
            return outcome;
        }
        if (got == 0) return {Result::ClosedEarly, {}, "the connection closed in the header"};
        header += c;
        lineBreaks = (c == '\r' || c == '\n') ? lineBreaks + 1 : 0;
    }

    const int status = StatusCode(header);
    if (status == 302) {
        const auto location = HeaderValue(header, "Location");
        if (!location || location->empty())
            return {Result::BadAnswer, {}, "a redirect without a Location"};
        redirect = *location;
        return {Result::BadAnswer, {}, "redirected"};
    }
    if (status != 200) return {Result::BadAnswer, {}, "the answer was " + FirstLine(header)};
    for (const char* coding : {"Transfer-Encoding", "Content-Encoding"}) {
        const auto value = HeaderValue(header, coding);
        if (value && Lower(*value) != "identity")
            return {Result::Encoded, {}, std::string(coding) + ": " + *value};
    }
    bool conflict = false;
    const auto lengthText = HeaderValue(header, "Content-Length", &conflict);
    std::uint64_t length = 0;
    if (!lengthText || conflict || !IsDigits(*lengthText) ||
        std::from_chars(lengthText->data(), lengthText->data() + lengthText->size(), length).ec !=
            std::errc())
        return {Result::NoContentLength, {}, "the answer has no usable Content-Length"};

    const std::string path = targetFolder + "/" + PackageFileName(url.target);
    // Whatever stood there goes first; O_EXCL then never follows a link someone left in its
    // place.
    ::unlink(path.c_str());
    UniqueFd file =
        AdoptFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!file) {
        if (m_notifier) m_notifier->showMessage(kDownloadCreateFileFailed);
        return {
            Result::CreateFileFailed, {}, "cannot create " + path + ": " + std::strerror(errno)};
    }
    const auto fail = [&path, &file](Result result, std::string detail) {
        file.reset();
        ::unlink(path.c_str());
        return Outcome{result, {}, std::move(detail)};
    };

    m_total = length;
    std::vector<char> piece(static_cast<std::size_t>(std::min<std::uint64_t>(kPieceBytes, length)));
    std::uint64_t received = 0;
    while (received < length) {
        const std::size_t wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), length - received));
        std::size_t got = 0;
        if (const Result result = socket.receive(piece.data(), wanted, got); result != Result::Done)
            return fail(result, "after " + std::to_string(received) + " of " +
                                    std::to_string(length) + " bytes");
        if (got == 0)
            return fail(Result::ClosedEarly, "the connection closed after " +
                                                 std::to_string(received) + " of " +
                                                 std::to_string(length) + " bytes");
        if (!WriteAll(file.get().fd, piece.data(), got))
            return fail(Result::WriteFailed, "cannot write " + path + ": " + std::strerror(errno));
        received += got;
        m_received = received;
    }
    // On disk before anyone is told the package is there.
    if (::fsync(file.get().fd) != 0 || ::close(file.release().fd) != 0)
        return fail(Result::WriteFailed, "cannot write " + path + ": " + std::strerror(errno));
    return {Result::Done, path, {}};
}

const char* DownloadResultText(CHttpDownFile::Result result) {
    switch (result) {
        case Result::Done:
            return "downloaded";
        case Result::BadUrl:
            return "unusable address";
        case Result::ConnectFailed:
            return "cannot connect";
        case Result::CreateFileFailed:
            return "cannot create the package file";
        case Result::BadAnswer:
            return "unexpected answer";
        case Result::NoContentLength:
            return "answer without Content-Length";
        case Result::Encoded:
            return "encoded answer";
        case Result::TooManyRedirects:
            return "too many redirects";
        case Result::HeaderTooLarge:
            return "answer header too large";
        case Result::TimedOut:
            return "the server sent nothing for too long";
        case Result::ClosedEarly:
            return "the connection closed early";
        case Result::WriteFailed:
            return "cannot write the package file";
        case Result::Cancelled:
            return "cancelled";
    }
    return "failed";
}

}  // namespace velquist
