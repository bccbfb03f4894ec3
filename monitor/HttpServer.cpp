#include "monitor/HttpServer.h"

#include "core/Logging.h"

#include <microhttpd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <optional>
#include <thread>

namespace clarow {

namespace {

using Clock = std::chrono::steady_clock;

HttpResponse plain(int status, const char *text)
{
    HttpResponse r;
    r.status = status;
    r.body = QByteArray(text) + '\n';
    return r;
}

MHD_Result collect(void *cls, MHD_ValueKind, const char *key, const char *value)
{
    auto *list = static_cast<QList<QPair<QByteArray, QByteArray>> *>(cls);
    list->append({QByteArray(key ? key : ""), QByteArray(value ? value : "")});
    return MHD_YES;
}

QByteArray firstOf(const QList<QPair<QByteArray, QByteArray>> &list, const QByteArray &name)
{
    for (const auto &[key, value] : list) {
        if (key == name)
            return value;
    }
    return {};
}

} // namespace

QByteArray HttpRequestHead::argument(const QByteArray &name) const { return firstOf(query, name); }

QByteArray HttpRequestHead::header(const QByteArray &name) const { return firstOf(headers, name); }

// libmicrohttpd driven by one thread of ours. Every callback runs on that thread, so the
// connection table needs no lock; the thread also closes connections that overstay.
struct HttpServer::Engine
{
    struct Connection
    {
        MHD_socket fd = MHD_INVALID_SOCKET;
        Clock::time_point deadline;
        bool closing = false;
    };

    HttpLimits limits;
    QList<Route> routes;
    MHD_Daemon *daemon = nullptr;
    std::thread thread;
    std::atomic<bool> stopping{false};
    quint16 port = 0;
    // Open connections by the order they came in: the first one is the oldest.
    std::map<quint64, Connection> connections;
    quint64 nextSerial = 0;

    [[nodiscard]] Clock::duration idle() const { return std::chrono::seconds(limits.idleSeconds); }

    // Ends a connection from our side: libmicrohttpd sees the socket end on its next turn,
    // closes it and tells closed().
    static void close(Connection &c)
    {
        if (c.closing)
            return;
        c.closing = true;
        ::shutdown(c.fd, SHUT_RDWR);
    }

    void started(MHD_Connection *connection, void **socketContext)
    {
        const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        const quint64 serial = ++nextSerial;
        connections[serial] = Connection{info ? info->connect_fd : MHD_INVALID_SOCKET, Clock::now() + idle(), false};
        *socketContext = reinterpret_cast<void *>(static_cast<quintptr>(serial));
        // Full: the oldest connection makes room, so that a client holding many idle
        // connections cannot lock a scraper out.
        int open = 0;
        for (const auto &[s, c] : connections)
            open += c.closing ? 0 : 1;
        for (auto it = connections.begin(); open > limits.maxConnections && it != connections.end(); ++it) {
            if (!it->second.closing && it->first != serial) {
                close(it->second);
                --open;
            }
        }
    }

    void closed(void **socketContext)
    {
        connections.erase(static_cast<quint64>(reinterpret_cast<quintptr>(*socketContext)));
    }

    // A request head is in: the response and the next request must follow within the time-out.
    void requestArrived(MHD_Connection *connection)
    {
        const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
        if (!info)
            return;
        const auto it = connections.find(static_cast<quint64>(reinterpret_cast<quintptr>(info->socket_context)));
        if (it != connections.end())
            it->second.deadline = Clock::now() + idle();
    }

    // libmicrohttpd closes a connection that stays silent; one that trickles its head byte by
    // byte is closed here when its time is up.
    void closeOverdue()
    {
        const Clock::time_point now = Clock::now();
        for (auto &[serial, c] : connections) {
            if (c.deadline <= now)
                close(c);
        }
    }

    // Why the request is refused before anything of a body is read; nothing when it may go on.
    std::optional<HttpResponse> refusal(MHD_Connection *connection, const char *method)
    {
        const MHD_ConnectionInfo *head = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_REQUEST_HEADER_SIZE);
        if (head && head->header_size > static_cast<size_t>(limits.maxHeadBytes))
            return plain(MHD_HTTP_REQUEST_HEADER_FIELDS_TOO_LARGE, "Request header too large.");
        if (std::strcmp(method, MHD_HTTP_METHOD_GET) != 0 && std::strcmp(method, MHD_HTTP_METHOD_HEAD) != 0) {
            HttpResponse r = plain(MHD_HTTP_METHOD_NOT_ALLOWED, "Only GET and HEAD are served.");
            r.headers.append({QByteArrayLiteral("Allow"), QByteArrayLiteral("GET, HEAD")});
            return r;
        }
        // The pages are read-only: a body is never read, so it cannot cost memory either.
        const char *length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
        const bool body = (length && std::strcmp(length, "0") != 0)
            || MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING);
        if (body)
            return plain(MHD_HTTP_CONTENT_TOO_LARGE, "A request body is not accepted.");
        return std::nullopt;
    }

    HttpResponse respond(MHD_Connection *connection, const char *url, const char *method)
    {
        const QByteArray path(url);
        const Route *found = nullptr;
        for (const Route &r : routes) {
            if (!r.prefix && r.path == path) {
                found = &r;
                break;
            }
            if (r.prefix && path.startsWith(r.path) && (!found || (found->prefix && r.path.size() > found->path.size())))
                found = &r;
        }
        if (!found)
            return plain(MHD_HTTP_NOT_FOUND, "Not found.");
        HttpRequestHead request;
        request.method = method;
        request.path = path;
        MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, &collect, &request.query);
        MHD_get_connection_values(connection, MHD_HEADER_KIND, &collect, &request.headers);
        for (auto &h : request.headers)
            h.first = h.first.toLower();
        return found->handler(request);
    }

    static MHD_Result queue(MHD_Connection *connection, const HttpResponse &r)
    {
        MHD_Response *response = MHD_create_response_from_buffer(
            static_cast<size_t>(r.body.size()), const_cast<char *>(r.body.constData()), MHD_RESPMEM_MUST_COPY);
        if (!response)
            return MHD_NO;
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, r.contentType.constData());
        for (const auto &[name, value] : r.headers)
            MHD_add_response_header(response, name.constData(), value.constData());
        qCDebug(lcHttp, "answer %d, %lld bytes", r.status, qint64(r.body.size()));
        const MHD_Result ok = MHD_queue_response(connection, static_cast<unsigned>(r.status), response);
        MHD_destroy_response(response);
        return ok;
    }

    // Called once when a request's head is in, and again when its (empty) body is: a refusal
    // goes out at once and closes the connection unread; an answer goes out at the second call,
    // which lets the connection carry a further request.
    static MHD_Result onRequest(void *cls, MHD_Connection *connection, const char *url, const char *method,
                                const char *, const char *, size_t *uploadSize, void **requestContext)
    {
        auto *self = static_cast<Engine *>(cls);
        if (!*requestContext) {
            *requestContext = self;
            self->requestArrived(connection);
            if (const std::optional<HttpResponse> no = self->refusal(connection, method))
                return queue(connection, *no);
            return MHD_YES;
        }
        if (*uploadSize != 0) {
            *uploadSize = 0;
            return MHD_YES;
        }
        return queue(connection, self->respond(connection, url, method));
    }

    static void onConnection(void *cls, MHD_Connection *connection, void **socketContext,
                             MHD_ConnectionNotificationCode code)
    {
        auto *self = static_cast<Engine *>(cls);
        if (code == MHD_CONNECTION_NOTIFY_STARTED)
            self->started(connection, socketContext);
        else
            self->closed(socketContext);
    }

    void run()
    {
        while (!stopping.load()) {
            if (MHD_run_wait(daemon, 200) != MHD_YES)
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            closeOverdue();
        }
    }
};

HttpServer::HttpServer(const HttpLimits &limits) : m_limits(limits) {}

HttpServer::~HttpServer() { stop(); }

void HttpServer::route(const QByteArray &path, Handler handler)
{
    m_routes.append({path, false, [h = std::move(handler)](const HttpRequestHead &) { return h(); }});
}

void HttpServer::route(const QByteArray &path, RequestHandler handler)
{
    m_routes.append({path, false, std::move(handler)});
}

void HttpServer::routePrefix(const QByteArray &prefix, RequestHandler handler)
{
    m_routes.append({prefix, true, std::move(handler)});
}

bool HttpServer::listen(const QHostAddress &host, quint16 port)
{
    stop();
    m_error.clear();
    const bool v6 = host.protocol() == QAbstractSocket::IPv6Protocol;
    sockaddr_storage address{};
    socklen_t size = 0;
    if (v6) {
        auto *a = reinterpret_cast<sockaddr_in6 *>(&address);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = host.toIPv6Address();
        std::memcpy(&a->sin6_addr, bytes.c, sizeof bytes.c);
        size = sizeof *a;
    } else {
        auto *a = reinterpret_cast<sockaddr_in *>(&address);
        a->sin_family = AF_INET;
        a->sin_port = htons(port);
        a->sin_addr.s_addr = htonl(host.toIPv4Address());
        size = sizeof *a;
    }

    const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // [::] means IPv6 only; IPv4 is served when an IPv4 address is given.
    if (v6)
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), size) != 0 || ::listen(fd, 32) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return false;
    }
    sockaddr_storage bound{};
    socklen_t boundSize = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&bound), &boundSize);

    auto engine = std::make_unique<Engine>();
    engine->limits = m_limits;
    engine->routes = m_routes;
    engine->port = ntohs(v6 ? reinterpret_cast<sockaddr_in6 *>(&bound)->sin6_port
                            : reinterpret_cast<sockaddr_in *>(&bound)->sin_port);
    // One spare socket beyond the limit: a newcomer is taken in while the oldest is let go.
    engine->daemon = MHD_start_daemon(
        MHD_USE_AUTO, 0, nullptr, nullptr, &Engine::onRequest, engine.get(),
        MHD_OPTION_LISTEN_SOCKET, fd,
        MHD_OPTION_CONNECTION_LIMIT, static_cast<unsigned>(m_limits.maxConnections + 1),
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<size_t>(m_limits.memoryPerConnection),
        MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(m_limits.idleSeconds),
        MHD_OPTION_NOTIFY_CONNECTION, &Engine::onConnection, engine.get(),
        MHD_OPTION_END);
    if (!engine->daemon) {
        // The library may already have closed the socket it was given; it is not closed again.
        m_error = QStringLiteral("the HTTP server could not start.");
        return false;
    }
    Engine *e = engine.get();
    engine->thread = std::thread([e] { e->run(); });
    m_engine = std::move(engine);
    qCDebug(lcHttp, "listening on %s port %u", qUtf8Printable(host.toString()), unsigned(m_engine->port));
    return true;
}

void HttpServer::stop()
{
    if (!m_engine)
        return;
    m_engine->stopping = true;
    if (m_engine->thread.joinable())
        m_engine->thread.join();
    MHD_stop_daemon(m_engine->daemon);
    qCDebug(lcHttp, "stopped listening on port %u", unsigned(m_engine->port));
    m_engine.reset();
}

bool HttpServer::listening() const { return m_engine != nullptr; }

quint16 HttpServer::port() const { return m_engine ? m_engine->port : 0; }

} // namespace clarow
