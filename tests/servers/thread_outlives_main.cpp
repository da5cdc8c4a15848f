// A process whose main thread ends while another thread goes on, as a multi-threaded server's
// can while it shuts down: the kernel shows it as a zombie, yet its files stay open.
#include <pthread.h>
#include <unistd.h>

namespace {
void* sleepALong(void*) {
    ::sleep(60);
    return nullptr;
}
} // namespace

int main() {
    pthread_t thread;
    if (::pthread_create(&thread, nullptr, sleepALong, nullptr) != 0) {
        return 1;
    }
    ::write(STDOUT_FILENO, "ready\n", 6);
    // The main thread ends once standard input closes, so the caller can see it alive first.
    char byte = 0;
    while (::read(STDIN_FILENO, &byte, 1) > 0) {
    }
    ::pthread_exit(nullptr);
}
