// Which host thread runs the device loop through StartLoop: the exports use
// it to tell the loop's own handlers from the other host threads.
#ifndef VEXA_UNITY_LOOP_MARK_H_
#define VEXA_UNITY_LOOP_MARK_H_

namespace Vexa {
namespace Unity {

bool loopRunning();
bool onLoopThread();

// Claims the loop for the calling thread, unless a loop already runs: a
// StartLoop from a handler or from a second host thread then gets no claim,
// and must neither run a loop nor give back the running loop's claim.
class LoopMark {
 public:
  LoopMark();
  ~LoopMark();
  LoopMark(const LoopMark&) = delete;
  LoopMark& operator=(const LoopMark&) = delete;
  bool owner() const { return owner_; }

 private:
  bool owner_;
};

}  // namespace Unity
}  // namespace Vexa

#endif  // VEXA_UNITY_LOOP_MARK_H_
