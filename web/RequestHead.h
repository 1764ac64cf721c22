#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace skiro {

// Reads the head of one HTTP request (request line and header fields) as its bytes arrive,
// before Qt's parser sees them, and says whether it is a request the web view answers at all.
// Qt's parser accepts any version, keeps a request whose Content-Length and chunked coding
// disagree, and quietly drops every header field of a request with more than 100 of them; the
// answers here are the ones a strict server gives instead. Plain C++, no Qt.
class RequestHead {
  public:
    static constexpr std::size_t kMaxBytes = 8 * 1024; // request line and header fields
    static constexpr int kMaxFields = 64;

    enum class Verdict {
        NeedMore,   // the head is not whole yet
        Whole,      // a head the server will answer
        BadRequest, // 400: not HTTP, a malformed field, Content-Length with chunked, ...
        TooLarge,   // 431: more than kMaxFields fields or kMaxBytes bytes
        BadVersion, // 505: HTTP, but neither 1.0 nor 1.1
    };

    // Takes the next bytes of the connection. Once the verdict is other than NeedMore, further
    // bytes (a body, or anything after a refusal) are not looked at.
    Verdict take(std::string_view bytes);
    Verdict verdict() const { return m_verdict; }
    // 0 or 1 once the head is whole: HTTP/1.0 or HTTP/1.1.
    int minorVersion() const { return m_minor; }
    // Whether a body follows the head.
    bool announcesBody() const;
    // The bytes taken so far; once the head is whole, its length, with any blank lines before
    // it: what follows in the connection is not the head's.
    std::size_t bytesTaken() const { return m_bytes; }

  private:
    Verdict line(std::string_view text);
    Verdict requestLine(std::string_view text);
    Verdict field(std::string_view text);

    Verdict m_verdict = Verdict::NeedMore;
    std::string m_line;
    std::size_t m_bytes = 0;
    bool m_started = false; // the request line has begun (blank lines before it are skipped)
    bool m_requestLineDone = false;
    int m_fields = 0;
    int m_minor = -1;
    int m_hosts = 0;
    bool m_chunked = false;
    bool m_transferEncoding = false;
    std::string m_contentLength; // the first value; any later one must agree
    bool m_hasContentLength = false;
};

} // namespace skiro
