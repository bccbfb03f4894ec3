#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>

#include <functional>
#include <memory>

namespace clarow {

// What a route answers: status, content type, body and any further header lines.
struct HttpResponse
{
    int status = 200;
    QByteArray contentType = "text/plain; charset=utf-8";
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
};

// What a route is told of the request: its path, the decoded query arguments and the header
// lines (names in lower case), in the order they came.
struct HttpRequestHead
{
    QByteArray method;
    QByteArray path;
    QList<QPair<QByteArray, QByteArray>> query;
    QList<QPair<QByteArray, QByteArray>> headers;

    // The first value of a query argument or header line (name in lower case); empty when absent.
    [[nodiscard]] QByteArray argument(const QByteArray &name) const;
    [[nodiscard]] QByteArray header(const QByteArray &name) const;
};

// What one peer may cost the program. Whatever a client sends or withholds, the server holds
// at most maxConnections sockets with at most memoryPerConnection bytes each, and none of them
// longer than idleSeconds without a complete request.
struct HttpLimits
{
    int maxConnections = 64;       // a further one closes the oldest
    int maxHeadBytes = 8 * 1024;   // request line and header lines; larger: 431
    int memoryPerConnection = 16 * 1024; // the head is read into this; beyond it: refused unread
    int idleSeconds = 10;          // idle, or still sending its head after this: closed
};

// A small HTTP/1.1 server for read-only pages: routes by exact path or path prefix, answers GET and HEAD, and
// refuses every request with a body. It runs on a thread of its own, so no request ever waits
// for the scan cycle; a route's handler runs on that thread and must only read state that is
// safe to read from there (a snapshot the program's thread keeps up to date).
class HttpServer
{
public:
    using Handler = std::function<HttpResponse()>;
    using RequestHandler = std::function<HttpResponse(const HttpRequestHead &)>;

    explicit HttpServer(const HttpLimits &limits = {});
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Routes are set before listen().
    void route(const QByteArray &path, Handler handler);
    void route(const QByteArray &path, RequestHandler handler);
    // Every path that starts with prefix and has no exact route; the longest prefix wins.
    void routePrefix(const QByteArray &prefix, RequestHandler handler);

    // Binds host:port (port 0 picks a free one) and starts serving; false with errorText()
    // when the address cannot be bound.
    bool listen(const QHostAddress &host, quint16 port);
    void stop();
    [[nodiscard]] bool listening() const;
    [[nodiscard]] quint16 port() const;
    [[nodiscard]] QString errorText() const { return m_error; }

    struct Engine;

private:
    HttpLimits m_limits;
    struct Route
    {
        QByteArray path;
        bool prefix = false;
        RequestHandler handler;
    };
    QList<Route> m_routes;
    std::unique_ptr<Engine> m_engine;
    QString m_error;
};

} // namespace clarow
