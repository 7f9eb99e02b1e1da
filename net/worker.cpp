#include "net/worker.h"

#include "platform/socket.h"

namespace qs::net {

void Worker::Run(const plat::Event& stop) {
  plat::SocketsLibrary sockets;  // for this thread, shut down when the job ends
  const Deadline deadline = Deadline::FromNow(timeoutMs_);
  result_ = Body(deadline, stop);
  done_.Set();
}

int32_t WaitForJob(IWorker* w, IPoolJob* control, uint32_t budgetMs, int32_t notStarted) {
  auto* worker = static_cast<Worker*>(w);
  if (worker->WaitDone(budgetMs + kJobEndGraceMs)) return worker->result();
  control->Stop();
  return worker->WaitDone(kJobStopGraceMs) ? worker->result() : notStarted;
}

}  // namespace qs::net
