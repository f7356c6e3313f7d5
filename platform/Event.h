// Events: a callback bound to a receiver, raised with the sender first.
// Event properties are named On<Event>, their setters SetOn<Event>, the raisers DoOn<Event>.
// An unassigned event is skipped. Events are assigned before the raising object starts its
// threads; raising is then safe from any thread.
#pragma once

#include <functional>
#include <utility>

namespace kva {

template <typename Signature>
class TEvent;

template <typename... Args>
class TEvent<void(Args...)> {
public:
  TEvent() = default;

  // Binds a method of a receiver object, like a method pointer bound to its object.
  template <typename TReceiver, typename TMethod>
  TEvent(TReceiver* AReceiver, TMethod AMethod)
      : FReceiver(AReceiver),
        FCall([AReceiver, AMethod](Args... AArgs) { (AReceiver->*AMethod)(std::forward<Args>(AArgs)...); }) {}

  // Binds any callable; the receiver is then the one given (may be none).
  template <typename F, typename = std::enable_if_t<std::is_invocable_v<F&, Args...>>>
  TEvent(F&& ACall, const void* AReceiver = nullptr) : FReceiver(AReceiver), FCall(std::forward<F>(ACall)) {}

  bool Assigned() const { return static_cast<bool>(FCall); }
  explicit operator bool() const { return Assigned(); }
  const void* Receiver() const { return FReceiver; }

  void operator()(Args... AArgs) const {
    if (FCall) FCall(std::forward<Args>(AArgs)...);
  }

private:
  const void* FReceiver = nullptr;
  std::function<void(Args...)> FCall;
};

}  // namespace kva
