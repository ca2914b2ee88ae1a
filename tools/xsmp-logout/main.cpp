// xsmp-logout: the smallest X11 session manager (XSMP over ICE) that can log a session
// out, for tests. It listens on a local ICE socket only, prints where (the value for
// SESSION_MANAGER), registers whoever connects, and on SIGUSR1 asks every client to save
// as a desktop's logout does: SaveYourself with save type "both", shutdown, interaction
// allowed, not fast; a client that reports the save done is told to die (unless
// --no-die: then it has to end by itself, as it must when the manager waits for others
// or the logout is cancelled later). Everything the
// clients do is printed on standard output, one event a line:
//   listening <network ids>        registered <client id>
//   save-sent <client id>          property <client id> <name> <value>...
//   interact-request <client id>   interact-done <client id> <cancel>
//   save-done <client id> <success>    die-sent <client id>
//   closed <client id>             lost <client id>     (closed without a word)
// It ends on SIGTERM or SIGINT, or after --timeout seconds (default 120) with exit code 2.
// Usage: xsmp-logout [--no-die] [--timeout SECONDS]
// Clients are let in only over the local transport and without authentication data.

#include <X11/ICE/ICElib.h>
#include <X11/ICE/ICEutil.h>
#include <X11/SM/SMlib.h>

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

extern "C" int _IceTransNoListen(const char* protocol); // exported by libICE, not declared

namespace {

struct Client {
    SmsConn sms = nullptr;
    IceConn ice = nullptr;
    std::string id = "-";
};

std::vector<Client*> clients;
std::vector<IceConn> connections; // every ICE connection, registered or not yet
bool sendDie = true;

void Say(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// A property value as one word: printable ASCII as is, anything else as \xHH.
std::string Word(const void* data, int length) {
    std::string out;
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (int i = 0; i < length; ++i) {
        if (bytes[i] > ' ' && bytes[i] < 0x7f && bytes[i] != '\\') {
            out += char(bytes[i]);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", bytes[i]);
            out += hex;
        }
    }
    return out.empty() ? "\"\"" : out;
}

void Forget(Client* client) {
    for (auto it = clients.begin(); it != clients.end(); ++it)
        if (*it == client) {
            clients.erase(it);
            break;
        }
    delete client;
}

void CloseIce(IceConn ice) {
    IceSetShutdownNegotiation(ice, False);
    IceCloseConnection(ice);
}

Status RegisterClient(SmsConn sms, SmPointer data, char* previousId) {
    auto* client = static_cast<Client*>(data);
    std::free(previousId); // a restored session is not offered: every client is new
    char* id = SmsGenerateClientID(sms);
    if (!id)
        return 0;
    client->id = id;
    const Status ok = SmsRegisterClientReply(sms, id);
    std::free(id);
    Say("registered " + client->id);
    return ok;
}

void InteractRequest(SmsConn sms, SmPointer data, int) {
    Say("interact-request " + static_cast<Client*>(data)->id);
    SmsInteract(sms); // granted at once: a client that asks must not hang the test
}

void InteractDone(SmsConn, SmPointer data, Bool cancel) {
    Say("interact-done " + static_cast<Client*>(data)->id + (cancel ? " 1" : " 0"));
}

void SaveYourselfRequest(SmsConn, SmPointer data, int, Bool, int, Bool, Bool) {
    Say("save-request " + static_cast<Client*>(data)->id);
}

void Phase2Request(SmsConn sms, SmPointer data) {
    Say("phase2-request " + static_cast<Client*>(data)->id);
    SmsSaveYourselfPhase2(sms);
}

void SaveYourselfDone(SmsConn sms, SmPointer data, Bool success) {
    auto* client = static_cast<Client*>(data);
    Say("save-done " + client->id + (success ? " 1" : " 0"));
    // A logout: once every client has saved the manager tells them to end.
    if (!sendDie)
        return;
    SmsDie(sms);
    Say("die-sent " + client->id);
}

void CloseConnection(SmsConn sms, SmPointer data, int count, char** reasons) {
    auto* client = static_cast<Client*>(data);
    Say("closed " + client->id);
    SmFreeReasons(count, reasons);
    IceConn ice = SmsGetIceConnection(sms);
    SmsCleanUp(sms);
    Forget(client);
    CloseIce(ice);
}

void SetProperties(SmsConn, SmPointer data, int count, SmProp** props) {
    const std::string& id = static_cast<Client*>(data)->id;
    for (int i = 0; i < count; ++i) {
        std::string line = "property " + id + " " + props[i]->name;
        for (int v = 0; v < props[i]->num_vals; ++v) {
            const SmPropValue& value = props[i]->vals[v];
            if (std::strcmp(props[i]->type, SmCARD8) == 0 && value.length >= 1)
                line += " " + std::to_string(*static_cast<const unsigned char*>(value.value));
            else
                line += " " + Word(value.value, value.length);
        }
        Say(line);
        SmFreeProperty(props[i]);
    }
    std::free(props);
}

void DeleteProperties(SmsConn, SmPointer, int count, char** names) {
    for (int i = 0; i < count; ++i)
        std::free(names[i]);
    std::free(names);
}

void GetProperties(SmsConn sms, SmPointer) {
    SmsReturnProperties(sms, 0, nullptr);
}

Status NewClient(SmsConn sms, SmPointer, unsigned long* mask, SmsCallbacks* callbacks, char**) {
    auto* client = new Client;
    client->sms = sms;
    client->ice = SmsGetIceConnection(sms);
    clients.push_back(client);
    std::memset(callbacks, 0, sizeof *callbacks);
    callbacks->register_client = {RegisterClient, client};
    callbacks->interact_request = {InteractRequest, client};
    callbacks->interact_done = {InteractDone, client};
    callbacks->save_yourself_request = {SaveYourselfRequest, client};
    callbacks->save_yourself_phase2_request = {Phase2Request, client};
    callbacks->save_yourself_done = {SaveYourselfDone, client};
    callbacks->close_connection = {CloseConnection, client};
    callbacks->set_properties = {SetProperties, client};
    callbacks->delete_properties = {DeleteProperties, client};
    callbacks->get_properties = {GetProperties, client};
    *mask = SmsRegisterClientProcMask | SmsInteractRequestProcMask | SmsInteractDoneProcMask |
            SmsSaveYourselfRequestProcMask | SmsSaveYourselfP2RequestProcMask |
            SmsSaveYourselfDoneProcMask | SmsCloseConnectionProcMask | SmsSetPropertiesProcMask |
            SmsDeletePropertiesProcMask | SmsGetPropertiesProcMask;
    return 1;
}

// Only clients on this machine's local socket, which is the only one listening anyway.
Bool LocalOnly(char* hostName) {
    return hostName && std::strncmp(hostName, "local/", 6) == 0;
}

void WatchConnections(IceConn ice, IcePointer, Bool opening, IcePointer*) {
    if (opening) {
        connections.push_back(ice);
        return;
    }
    for (auto it = connections.begin(); it != connections.end(); ++it)
        if (*it == ice) {
            connections.erase(it);
            break;
        }
}

// A client gone without CloseConnection (killed, or its connection broke).
void Lost(IceConn ice) {
    for (Client* client : clients)
        if (client->ice == ice) {
            Say("lost " + client->id);
            SmsCleanUp(client->sms);
            Forget(client);
            break;
        }
    CloseIce(ice);
}

void Logout() {
    for (Client* client : clients) {
        if (client->id == "-")
            continue; // connected, not yet registered
        SmsSaveYourself(client->sms, SmSaveBoth, True, SmInteractStyleAny, False);
        Say("save-sent " + client->id);
    }
}

} // namespace

int main(int argc, char** argv) {
    long timeoutSeconds = 120;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-die") == 0) {
            sendDie = false;
        } else if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc) {
            timeoutSeconds = std::strtol(argv[++i], nullptr, 10);
        } else {
            std::fprintf(stderr, "usage: %s [--no-die] [--timeout SECONDS]\n", argv[0]);
            return 1;
        }
    }
    sigset_t handled;
    sigemptyset(&handled);
    for (int s : {SIGUSR1, SIGTERM, SIGINT})
        sigaddset(&handled, s);
    sigprocmask(SIG_BLOCK, &handled, nullptr);
    const int signals = signalfd(-1, &handled, SFD_CLOEXEC);

    char error[256] = "";
    if (!SmsInitialize("vendrik-tests", "1.0", NewClient, nullptr, LocalOnly, sizeof error,
                       error)) {
        std::fprintf(stderr, "xsmp-logout: %s\n", error);
        return 1;
    }
    _IceTransNoListen("tcp");
    int listenCount = 0;
    IceListenObj* listeners = nullptr;
    if (!IceListenForConnections(&listenCount, &listeners, sizeof error, error) || !listenCount) {
        std::fprintf(stderr, "xsmp-logout: cannot listen: %s\n", error);
        return 1;
    }
    for (int i = 0; i < listenCount; ++i)
        IceSetHostBasedAuthProc(listeners[i], LocalOnly);
    IceAddConnectionWatch(WatchConnections, nullptr);
    char* ids = IceComposeNetworkIdList(listenCount, listeners);
    Say(std::string("listening ") + ids);
    std::free(ids);

    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const time_t deadline = now.tv_sec + timeoutSeconds;
    for (;;) {
        std::vector<pollfd> fds;
        fds.push_back({signals, POLLIN, 0});
        for (int i = 0; i < listenCount; ++i)
            fds.push_back({IceGetListenConnectionNumber(listeners[i]), POLLIN, 0});
        const std::vector<IceConn> open = connections;
        for (IceConn ice : open)
            fds.push_back({IceConnectionNumber(ice), POLLIN, 0});
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec >= deadline) {
            Say("timeout");
            return 2;
        }
        if (poll(fds.data(), fds.size(), 1000) < 0)
            continue;
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (read(signals, &info, sizeof info) == sizeof info) {
                if (info.ssi_signo != SIGUSR1)
                    return 0;
                Logout();
            }
        }
        for (int i = 0; i < listenCount; ++i)
            if (fds[1 + i].revents & POLLIN) {
                IceAcceptStatus status;
                IceConn ice = IceAcceptConnection(listeners[i], &status);
                if (!ice || status != IceAcceptSuccess)
                    continue;
                // The connection's set-up runs on through IceProcessMessages below.
            }
        for (std::size_t i = 0; i < open.size(); ++i) {
            if (!(fds[1 + listenCount + i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            IceConn ice = open[i];
            const IceProcessMessagesStatus status = IceProcessMessages(ice, nullptr, nullptr);
            if (status == IceProcessMessagesIOError)
                Lost(ice);
        }
    }
}
