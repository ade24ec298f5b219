#include "net/TNetStack.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/select.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "net/NetExceptions.h"
#include "net/TNetInterrupt.h"
#include "rtl/StrUtils.h"

namespace veilex {

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in MakeAddress(const std::string& ip, int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = ip.empty() ? htonl(INADDR_ANY) : inet_addr(ip.c_str());
  return address;
}

void SplitAddress(const sockaddr_in& address, std::string& ip, int& port) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
  ip = text;
  port = ntohs(address.sin_port);
}

// The same for an address of either family (a socket's own ends).
void SplitAnyAddress(const sockaddr_storage& address, std::string& ip, int& port) {
  if (address.ss_family != AF_INET6) {
    SplitAddress(reinterpret_cast<const sockaddr_in&>(address), ip, port);
    return;
  }
  const auto& address6 = reinterpret_cast<const sockaddr_in6&>(address);
  char text[INET6_ADDRSTRLEN] = {};
  inet_ntop(AF_INET6, &address6.sin6_addr, text, sizeof text);
  ip = text;
  port = ntohs(address6.sin6_port);
}

// Milliseconds left until `deadline`, never negative.
int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

const char* ErrorTableText(int error) {
  switch (error) {
    case 9: return "Nombre de fichiers incorrect.";
    case 11: return "L'opération risquerait de bloquer. ";
    case 13: return "Accès refusé.";
    case 14: return "Adresse incorrecte.";
    case 22: return "Argument incorrect.";
    case 24: return "Trop de fichiers ouverts.";
    case 36: return "Nom de fichier trop long.";
    case 39: return "Répertoire non vide";
    case 40: return "Trop de niveaux de liens symboliques.";
    case 88: return "Opération socket sur cible non-socket.";
    case 89: return "Adresse de destination requise.";
    case 90: return "Message trop long.";
    case 91: return "Type de protocole inapproprié pour le socket.";
    case 92: return "Option de protocole incorrecte.";
    case 93: return "Protocole non supporté.";
    case 94: return "Type de socket non supporté.";
    case 95: return "Opération non supportée sur un socket.";
    case 96: return "Famille de protocole non supportée.";
    case 97: return "Famille d'adresse non supportée par la famille de protocole.";
    case 98: return "Adresse déjà utilisée.";
    case 99: return "Impossible d'affecter l'adresse requise.";
    case 100: return "Le réseau est arrêté.";
    case 101: return "Le réseau est inaccessible.";
    case 102: return "Connexion interrompue ou réinitialisée par le réseau.";
    case 103: return "Le logiciel a provoqué l'interruption de la connexion.";
    case 104: return "Connexion réinitialisée par l'homologue (peer).";
    case 105: return "Aucun espace tampon disponible.";
    case 106: return "Socket déjà connecté.";
    case 107: return "Le socket n'est pas connecté.";
    case 108: return "Envoi ou réception impossible après la fermeture du socket.";
    case 109: return "Références trop nombreuses, attribution impossible.";
    case 110: return "Délai de connexion dépassé.";
    case 111: return "Connexion refusée.";
    case 112: return "Hôte arrêté.";
    case 113: return "Pas de route vers l'hôte.";
    case 114: return "Opération déjà en cours.";
    case 115: return "Opération en cours.";
    default: return "";
  }
}

const char* ResolverText(int error) {
  switch (error) {
    case kResolverHostNotFound: return "Hôte non trouvé.";
    case kResolverTryAgain: return "Réponse ne faisant pas autorité (réessayez et vérifiez la configuration DNS).";
    case kResolverNoRecovery: return "Erreurs non récupérables : FORMERR, REFUSED, NOTIMP.";
    case kResolverNoData: return "Nom correct, pas d'enregistrement de données (vérifiez la configuration DNS).";
    default: return nullptr;
  }
}

// Fills `set` from `list`, refusing what a descriptor set cannot hold.
void FillSet(const std::vector<TNetStackSocketHandle>* list, fd_set& set, int& highest) {
  FD_ZERO(&set);
  if (list == nullptr) return;
  if (list->size() > static_cast<size_t>(kSelectSetSize)) throw ENetSetSizeExceeded();
  for (TNetStackSocketHandle socket : *list) {
    if (socket < 0 || socket >= FD_SETSIZE) throw ENetSetSizeExceeded();
    FD_SET(socket, &set);
    highest = std::max(highest, socket);
  }
}

void ReadSet(std::vector<TNetStackSocketHandle>* list, const fd_set& set) {
  if (list == nullptr) return;
  list->clear();
  for (int socket = 0; socket < kSelectSetSize; ++socket) {
    if (FD_ISSET(socket, &set)) list->push_back(socket);
  }
}

}  // namespace

// ---- TNetStack -------------------------------------------------------------

bool TNetStack::CheckSocketResult(int result, std::initializer_list<int> ignore) {
  if (result != kSocketError) return false;
  // The code read back here is this thread's: another thread's failure may
  // overwrite LastError meanwhile.
  const int error = SockLastError();
  LastError = error;
  if (std::find(ignore.begin(), ignore.end(), error) != ignore.end()) return true;
  RaiseSocketError(error);
}

void TNetStack::RaiseSocketError(int error) {
  LastError = error;
  throw ENetSocketError(error, SocketErrorText(error));
}

TNetStackSocketHandle TNetStack::CreateSocketHandle(int type, int protocol) {
  const TNetStackSocketHandle socket = SockCreate(AF_INET, type, protocol);
  if (socket == kInvalidSocket) throw ENetInvalidSocket();
  return socket;
}

std::string TNetStack::ResolveHost(const std::string& host) {
  if (SameText(host, "LOCALHOST")) return "127.0.0.1";
  if (IsIP(host)) return host;
  // The resolver would read "0177.0.0.1", "0x7f.1" or "2130706433" as
  // numbers of its own (octal, hexadecimal, a single 32-bit value): a host
  // is read one way only, as four decimal parts or as a name.
  in_addr numeric{};
  if (inet_aton(host.c_str(), &numeric) != 0) {
    throw ENetException(Format("Adresse numérique ambiguë : %s", {host.substr(0, 64)}));
  }
  return SockHostByName(host);
}

bool TNetStack::IsIP(const std::string& text) {
  int parts = 0;
  size_t begin = 0;
  while (true) {
    const size_t dot = text.find('.', begin);
    const std::string_view part =
        std::string_view(text).substr(begin, dot == std::string::npos ? std::string::npos : dot - begin);
    if (part.empty()) return false;
    // "0177" would be octal to the C library, 177 here: neither reading is taken.
    if (part.size() > 1 && part.front() == '0') return false;
    int value = 0;
    for (char c : part) {
      if (c < '0' || c > '9') return false;
      value = value * 10 + (c - '0');
      if (value > 255) return false;
    }
    if (++parts > 4) return false;
    if (dot == std::string::npos) break;
    begin = dot + 1;
  }
  return parts == 4;
}

void TNetStack::Sleep(int milliseconds) {
  EnsureSharedStack().SockSelect(nullptr, nullptr, nullptr, milliseconds);
}

// ---- TNetStackLinux --------------------------------------------------------

std::vector<std::string> TNetStackLinux::LocalAddresses() {
  std::vector<std::string> result;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return result;
  for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    std::string ip;
    int port = 0;
    SplitAddress(*reinterpret_cast<const sockaddr_in*>(entry->ifa_addr), ip, port);
    result.push_back(ip);
  }
  freeifaddrs(list);
  return result;
}

std::string TNetStackLinux::LocalAddress() {
  for (const std::string& ip : LocalAddresses()) {
    if (ip.rfind("127.", 0) != 0) return ip;
  }
  return std::string();
}

std::string TNetStackLinux::HostName() { return SockHostName(); }

TNetStackSocketHandle TNetStackLinux::SockAccept(TNetStackSocketHandle socket, std::string& ip, int& port) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  int result;
  do {
    result = accept(socket, reinterpret_cast<sockaddr*>(&address), &length);
  } while (result == -1 && errno == EINTR);
  if (result != -1) SplitAddress(address, ip, port);
  return result;
}

int TNetStackLinux::SockBind(TNetStackSocketHandle socket, int family, const std::string& ip, int port) {
  sockaddr_in address = MakeAddress(ip, port);
  address.sin_family = static_cast<sa_family_t>(family);
  return bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

int TNetStackLinux::SockClose(TNetStackSocketHandle socket) {
  // Not retried on EINTR: on Linux the descriptor is released all the same,
  // and a second close could hit a descriptor another thread just opened.
  return close(socket);
}

int TNetStackLinux::SockConnect(TNetStackSocketHandle socket, int family, const std::string& ip, int port) {
  sockaddr_in address = MakeAddress(ip, port);
  address.sin_family = static_cast<sa_family_t>(family);
  int result = connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  if (result == -1 && errno == EINTR) {
    // The connect goes on in the background: wait for its outcome.
    int error = 0;
    do {
      result = SockPoll(socket, POLLOUT, TimeoutInfinite);
    } while (result == 0);
    socklen_t length = sizeof error;
    if (result == 1 && getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) == 0) {
      if (error == 0) return 0;
      errno = error;
    }
    result = -1;
  }
  return result;
}

std::string TNetStackLinux::SockHostByName(const std::string& host_name) {
  hostent entry{};
  hostent* found = nullptr;
  int resolver_error = 0;
  std::vector<char> work(2048);
  while (gethostbyname_r(host_name.c_str(), &entry, work.data(), work.size(), &found, &resolver_error) == ERANGE &&
         work.size() < (1u << 20)) {
    work.resize(work.size() * 2);
  }
  if (found == nullptr || found->h_addr_list == nullptr || found->h_addr_list[0] == nullptr ||
      found->h_addrtype != AF_INET) {
    if (ResolverText(resolver_error) == nullptr) resolver_error = kResolverHostNotFound;
    RaiseSocketError(resolver_error);
  }
  in_addr address{};
  std::memcpy(&address, found->h_addr_list[0], sizeof address);
  return AddrToText(address.s_addr);
}

std::string TNetStackLinux::SockHostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return std::string();
  return name;
}

std::string TNetStackLinux::SockHostByAddr(const std::string& ip) {
  const in_addr_t address = inet_addr(ip.c_str());
  hostent entry{};
  hostent* found = nullptr;
  int resolver_error = 0;
  std::vector<char> work(2048);
  gethostbyaddr_r(&address, sizeof address, AF_INET, &entry, work.data(), work.size(), &found, &resolver_error);
  if (found == nullptr || found->h_name == nullptr) {
    if (ResolverText(resolver_error) == nullptr) resolver_error = kResolverHostNotFound;
    RaiseSocketError(resolver_error);
  }
  return found->h_name;
}

int TNetStackLinux::SockServByName(const std::string& service, const std::string& protocol) {
  servent entry{};
  servent* found = nullptr;
  char work[1024];
  getservbyname_r(service.c_str(), protocol.c_str(), &entry, work, sizeof work, &found);
  return found == nullptr ? 0 : ntohs(static_cast<uint16_t>(found->s_port));
}

std::string TNetStackLinux::SockServByPort(int port, const std::string& protocol) {
  servent entry{};
  servent* found = nullptr;
  char work[1024];
  getservbyport_r(htons(static_cast<uint16_t>(port)), protocol.c_str(), &entry, work, sizeof work, &found);
  return found == nullptr ? IntToStr(port) : std::string(found->s_name);
}

uint16_t TNetStackLinux::SockHToNs(uint16_t value) { return htons(value); }
uint16_t TNetStackLinux::SockNToHs(uint16_t value) { return ntohs(value); }
uint32_t TNetStackLinux::SockHToNL(uint32_t value) { return htonl(value); }
uint32_t TNetStackLinux::SockNToHL(uint32_t value) { return ntohl(value); }

int TNetStackLinux::SockListen(TNetStackSocketHandle socket, int backlog) { return listen(socket, backlog); }

int TNetStackLinux::SockRecv(TNetStackSocketHandle socket, void* buffer, int length, int flags) {
  ssize_t result;
  do {
    result = recv(socket, buffer, static_cast<size_t>(length), flags);
  } while (result == -1 && errno == EINTR);
  return static_cast<int>(result);
}

int TNetStackLinux::SockRecvFrom(TNetStackSocketHandle socket, void* buffer, int length, int flags,
                                 std::string& ip, int& port) {
  sockaddr_in address{};
  socklen_t address_length = sizeof address;
  ssize_t result;
  do {
    result = recvfrom(socket, buffer, static_cast<size_t>(length), flags, reinterpret_cast<sockaddr*>(&address),
                      &address_length);
  } while (result == -1 && errno == EINTR);
  if (result != -1) SplitAddress(address, ip, port);
  return static_cast<int>(result);
}

int TNetStackLinux::SockSelect(std::vector<TNetStackSocketHandle>* read_list,
                               std::vector<TNetStackSocketHandle>* write_list,
                               std::vector<TNetStackSocketHandle>* error_list, int timeout) {
  fd_set read_set, write_set, error_set;
  int highest = -1;
  FillSet(read_list, read_set, highest);
  FillSet(write_list, write_set, highest);
  FillSet(error_list, error_set, highest);
  const bool infinite = timeout == TimeoutInfinite;
  const auto deadline = Clock::now() + std::chrono::milliseconds(infinite ? 0 : std::max(timeout, 0));
  int result;
  while (true) {
    fd_set read_copy = read_set, write_copy = write_set, error_copy = error_set;
    timeval limit{};
    if (!infinite) {
      const int left = MillisecondsLeft(deadline);
      limit.tv_sec = left / 1000;
      limit.tv_usec = (left % 1000) * 1000;
    }
    result = select(highest + 1, &read_copy, &write_copy, &error_copy, infinite ? nullptr : &limit);
    if (result == -1 && errno == EINTR) continue;
    read_set = read_copy;
    write_set = write_copy;
    error_set = error_copy;
    break;
  }
  if (result == -1) {
    FD_ZERO(&read_set);
    FD_ZERO(&write_set);
    FD_ZERO(&error_set);
  }
  ReadSet(read_list, read_set);
  ReadSet(write_list, write_set);
  ReadSet(error_list, error_set);
  return result;
}

int TNetStackLinux::SockPoll(TNetStackSocketHandle socket, short events, int timeout) {
  const bool infinite = timeout == TimeoutInfinite;
  const auto deadline = Clock::now() + std::chrono::milliseconds(infinite ? 0 : std::max(timeout, 0));
  const TNetInterrupt* interrupt = TNetInterrupt::Current();
  while (true) {
    if (interrupt != nullptr && interrupt->Interrupted()) {
      errno = ECANCELED;
      return -1;
    }
    int wait = infinite ? -1 : MillisecondsLeft(deadline);
    // A wait that another thread may cut short looks at its interrupt
    // between slices.
    const bool sliced = interrupt != nullptr && (wait < 0 || wait > kInterruptSliceMs);
    if (sliced) wait = kInterruptSliceMs;
    pollfd entry{socket, events, 0};
    const int result = poll(&entry, 1, wait);
    if (result == -1 && errno == EINTR) continue;
    if (result == 0 && sliced) continue;
    if (result == 1 && (entry.revents & POLLNVAL)) {
      errno = EBADF;
      return -1;
    }
    return result;
  }
}

int TNetStackLinux::SockSend(TNetStackSocketHandle socket, const void* buffer, int length, int flags) {
  ssize_t result;
  do {
    result = send(socket, buffer, static_cast<size_t>(length), flags | MSG_NOSIGNAL);
  } while (result == -1 && errno == EINTR);
  return static_cast<int>(result);
}

int TNetStackLinux::SockSendTo(TNetStackSocketHandle socket, const void* buffer, int length, int flags,
                               const std::string& ip, int port) {
  const sockaddr_in address = MakeAddress(ip, port);
  ssize_t result;
  do {
    result = sendto(socket, buffer, static_cast<size_t>(length), flags | MSG_NOSIGNAL,
                    reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (result == -1 && errno == EINTR);
  return static_cast<int>(result);
}

int TNetStackLinux::SockSetOpt(TNetStackSocketHandle socket, int level, int option, const void* value,
                               int length) {
  return setsockopt(socket, level, option, value, static_cast<socklen_t>(length));
}

TNetStackSocketHandle TNetStackLinux::SockCreate(int family, int type, int protocol) {
  // Close-on-exec: a descriptor must not leak into a program this one starts.
  return socket(family, type | SOCK_CLOEXEC, protocol);
}

int TNetStackLinux::SockShutdown(TNetStackSocketHandle socket, int how) { return shutdown(socket, how); }

std::string TNetStackLinux::SocketErrorText(int error) {
  if (const char* text = ResolverText(error)) return text;
  return Format("Erreur de socket # %d\r\n%s", {error, ErrorTableText(error)});
}

int TNetStackLinux::SockLastError() {
  const int error = errno;
  return error == EPIPE ? ECONNRESET : error;
}

int TNetStackLinux::SockPeerName(TNetStackSocketHandle socket, std::string& ip, int& port) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  const int result = getpeername(socket, reinterpret_cast<sockaddr*>(&address), &length);
  if (result == 0) SplitAnyAddress(address, ip, port);
  return result;
}

int TNetStackLinux::SockLocalName(TNetStackSocketHandle socket, std::string& ip, int& port) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  const int result = getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
  if (result == 0) SplitAnyAddress(address, ip, port);
  return result;
}

int TNetStackLinux::SockGetOpt(TNetStackSocketHandle socket, int level, int option, void* value, int& length) {
  socklen_t value_length = static_cast<socklen_t>(length);
  const int result = getsockopt(socket, level, option, value, &value_length);
  length = static_cast<int>(value_length);
  return result;
}

int TNetStackLinux::SockSetBlocking(TNetStackSocketHandle socket, bool blocking) {
  const int flags = fcntl(socket, F_GETFL);
  if (flags == -1) return -1;
  return fcntl(socket, F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK));
}

std::string TNetStackLinux::AddrToText(uint32_t address_network_order) {
  in_addr address{};
  address.s_addr = address_network_order;
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

uint32_t TNetStackLinux::TextToAddr(const std::string& ip) { return inet_addr(ip.c_str()); }

// ---- the shared instance ---------------------------------------------------

namespace {

std::unique_ptr<TNetStack> MakeLinuxStack() { return std::make_unique<TNetStackLinux>(); }

std::unique_ptr<TNetStack>& OwnedStack() {
  static std::unique_ptr<TNetStack> stack;
  return stack;
}

int live_components = 0;  // guarded by SharedStackLock()

}  // namespace

TNetStackClass NetStackClass = &MakeLinuxStack;
TNetStack* SharedStack = nullptr;

std::mutex& SharedStackLock() {
  static std::mutex lock;
  return lock;
}

void AcquireSharedStack() {
  std::lock_guard<std::mutex> guard(SharedStackLock());
  if (++live_components == 1 && SharedStack == nullptr) {
    OwnedStack() = NetStackClass();
    SharedStack = OwnedStack().get();
  }
}

void ReleaseSharedStack() {
  std::lock_guard<std::mutex> guard(SharedStackLock());
  if (--live_components == 0) {
    SharedStack = nullptr;
    OwnedStack().reset();
  }
}

TNetStack& EnsureSharedStack() {
  std::lock_guard<std::mutex> guard(SharedStackLock());
  if (SharedStack == nullptr) {
    OwnedStack() = NetStackClass();
    SharedStack = OwnedStack().get();
  }
  return *SharedStack;
}

}  // namespace veilex
