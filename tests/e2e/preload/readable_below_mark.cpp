// Preloaded into the program by a test: poll calls a socket readable as soon
// as any byte is queued, below its low-water mark, as Linux may under memory
// pressure. Everything else goes to the real poll.
#include <dlfcn.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace {

typedef int (*PollFunction)(struct pollfd*, nfds_t, int);

bool is_socket_with_bytes(int fd)
{
    int type = 0;
    socklen_t length = sizeof type;
    int queued = 0;
    return getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) == 0 && ioctl(fd, FIONREAD, &queued) == 0 &&
           queued > 0;
}

}  // namespace

extern "C" int poll(struct pollfd* fds, nfds_t count, int timeout_ms)
{
    static PollFunction real_poll = reinterpret_cast<PollFunction>(dlsym(RTLD_NEXT, "poll"));
    if (count == 1 && (fds[0].events & POLLIN) && is_socket_with_bytes(fds[0].fd)) {
        fds[0].revents = POLLIN;
        return 1;
    }
    return real_poll(fds, count, timeout_ms);
}
