#pragma once

#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

namespace kelvor::platform {

// A callable passed down for the length of one call, never copied or kept. A std::function
// there allocates for any lambda that captures more than two references, and the minute's
// save passes three of them on every tick. (Qt has this from 6.6 as qxp::function_ref, C++
// from 26 as std::function_ref.)
template <typename Signature> class FunctionRef;

template <typename R, typename... Args> class FunctionRef<R(Args...)> {
    template <typename F>
    static constexpr bool callable = !std::is_same_v<std::remove_cvref_t<F>, FunctionRef> &&
                                     std::is_invocable_r_v<R, F&, Args...>;

public:
    // Implicit, as std::function's: a lambda goes straight in.
    template <typename F, typename = std::enable_if_t<callable<F>>>
    FunctionRef(F&& f) noexcept
        : object_(const_cast<void*>(static_cast<const void*>(std::addressof(f)))),
          call_([](void* object, Args... args) -> R {
              return std::invoke(*static_cast<std::remove_reference_t<F>*>(object),
                                 std::forward<Args>(args)...);
          }) {}

    R operator()(Args... args) const { return call_(object_, std::forward<Args>(args)...); }

private:
    void* object_;
    R (*call_)(void*, Args...);
};

} // namespace kelvor::platform
