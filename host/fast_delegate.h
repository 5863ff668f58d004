// Delegates of the host: an object bound to one of its member operations, callable later and
// comparable for equality, so that a delayed call can be cancelled by the delegate that scheduled it.
#pragma once

#include <cstring>
#include <functional>
#include <type_traits>

namespace tavi {

template <class Signature> class FastDelegate;

// A delegate holds the object, the member pointer's bytes and a typed stub that calls through them.
// Binding a virtual member stores the pointer-to-member, so the call dispatches to the override.
template <class R, class... Args> class FastDelegate<R(Args...)> {
public:
    FastDelegate() = default;

    template <class T, class Base> FastDelegate(T* object, R (Base::*member)(Args...)) { Bind(object, member); }

    template <class T, class Base> void Bind(T* object, R (Base::*member)(Args...)) {
        using Member = R (Base::*)(Args...);
        static_assert(sizeof(Member) <= sizeof(member_), "member pointer does not fit");
        static_assert(std::is_base_of_v<Base, T>, "object does not have this member");
        object_ = static_cast<Base*>(object);
        std::memset(member_, 0, sizeof(member_));
        std::memcpy(member_, &member, sizeof(Member));
        stub_ = &Stub<Base>;
    }

    void Clear() {
        object_ = nullptr;
        stub_ = nullptr;
        std::memset(member_, 0, sizeof(member_));
    }

    bool IsEmpty() const { return stub_ == nullptr || object_ == nullptr; }
    explicit operator bool() const { return !IsEmpty(); }
    const void* GetObject() const { return object_; }
    // Where the code that a call runs lives, so that the host can tell which library a delegate
    // belongs to; null when empty.
    const void* GetCode() const { return reinterpret_cast<const void*>(stub_); }

    R operator()(Args... args) const {
        if (IsEmpty()) {
            if constexpr (std::is_void_v<R>)
                return;
            else
                return R{};
        }
        return stub_(object_, member_, args...);
    }

    bool operator==(const FastDelegate& other) const {
        return object_ == other.object_ && stub_ == other.stub_ &&
               std::memcmp(member_, other.member_, sizeof(member_)) == 0;
    }
    bool operator!=(const FastDelegate& other) const { return !(*this == other); }
    bool operator<(const FastDelegate& other) const {
        if (object_ != other.object_)
            return std::less<const void*>()(object_, other.object_);
        if (stub_ != other.stub_)
            return std::less<const void*>()(reinterpret_cast<const void*>(stub_),
                                            reinterpret_cast<const void*>(other.stub_));
        return std::memcmp(member_, other.member_, sizeof(member_)) < 0;
    }

private:
    using StubFn = R (*)(void*, const unsigned char*, Args...);

// The call through a member pointer tests its virtual bit before reading the object's vtable,
// which gcc cannot see and warns about for classes without one.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
    template <class Base> static R Stub(void* object, const unsigned char* bytes, Args... args) {
        R (Base::*member)(Args...);
        std::memcpy(&member, bytes, sizeof(member));
        return (static_cast<Base*>(object)->*member)(args...);
    }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

    void* object_ = nullptr;
    StubFn stub_ = nullptr;
    alignas(void*) unsigned char member_[2 * sizeof(void*)] = {};
};

template <class R = void> using FastDelegate0 = FastDelegate<R()>;
template <class P1, class R = void> using FastDelegate1 = FastDelegate<R(P1)>;
template <class P1, class P2, class R = void> using FastDelegate2 = FastDelegate<R(P1, P2)>;

template <class T, class Base, class R, class... Args>
FastDelegate<R(Args...)> MakeDelegate(T* object, R (Base::*member)(Args...)) {
    return FastDelegate<R(Args...)>(object, member);
}

} // namespace tavi
