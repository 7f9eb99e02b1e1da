#include "net/worker.h"

#include "platform/socket.h"

namespace qs::net {

void Worker::Run(const plat::Event& stop) {
  plat::SocketsLibrary sockets;  // for this thread, shut down when the job ends
  const Deadline deadline = Deadline::FromNow(timeoutMs_);
  result_ = Body(deadline, stop);
  done_.Set();
}

}  // namespace qs::net
