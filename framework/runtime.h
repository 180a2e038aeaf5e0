// Run time and classes: reference-counted objects, class tables, typed values,
// stored property sets, event binding and the framework's exceptions.
//
// Every framework and program class derives from Object and carries a class table
// (ClassInfo) that the layer itself uses: casts test against its base chain,
// stored properties are applied through its property entries, events reach the
// hooks it lists, and windows are found again by its type name.
#pragma once

#include "framework/text.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace fw {

using Integer = std::int64_t;
using Single = float;
using Double = double;

// A 32-bit colour, 0x00RRGGBB.
struct Color {
    std::uint32_t rgb = 0;
    friend bool operator==(Color, Color) = default;
};
constexpr Color RGB(int r, int g, int b)
{
    return Color { static_cast<std::uint32_t>(((r & 0xFF) << 16) | ((g & 0xFF) << 8) | (b & 0xFF)) };
}

// ---- Exceptions -------------------------------------------------------------

class RuntimeException : public std::exception {
public:
    explicit RuntimeException(std::string message = {})
        : message_(std::move(message))
    {
    }
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& Message() const { return message_; }
    virtual const char* ClassName() const { return "RuntimeException"; }

private:
    std::string message_;
};

#define FW_EXCEPTION(Name, Base)                                                                             \
    class Name : public Base {                                                                               \
    public:                                                                                                  \
        using Base::Base;                                                                                    \
        const char* ClassName() const override { return #Name; }                                             \
    }

// A member used on nil.
FW_EXCEPTION(NilObjectException, RuntimeException);
// A type-tested cast to a class the object is not of.
FW_EXCEPTION(IllegalCastException, RuntimeException);
// A user-interface member called off the main thread.
FW_EXCEPTION(ThreadAccessingUIException, RuntimeException);
// A stored property key, event name or registered name that does not exist.
FW_EXCEPTION(KeyNotFoundException, RuntimeException);
// A stored value whose type does not fit the property.
FW_EXCEPTION(TypeMismatchException, RuntimeException);
FW_EXCEPTION(OutOfBoundsException, RuntimeException);
FW_EXCEPTION(UnsupportedOperationException, RuntimeException);

// Raises ThreadAccessingUIException unless called on the thread that started the process.
void CheckMainThread(const char* member);
bool IsMainThread();

// ---- References -------------------------------------------------------------

class Object;
struct ClassInfo;

// A counted reference. Unlike a bare shared_ptr, using a nil reference raises
// NilObjectException instead of crashing, as every framework member does.
template <class T>
class Ref {
public:
    Ref() = default;
    Ref(std::nullptr_t) { }
    explicit Ref(std::shared_ptr<T> p)
        : p_(std::move(p))
    {
    }
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    Ref(const Ref<U>& other)
        : p_(other.shared())
    {
    }

    T* operator->() const
    {
        if (!p_)
            throw NilObjectException("a member was used on a nil object");
        return p_.get();
    }
    T& operator*() const { return *operator->(); }
    T* get() const { return p_.get(); }
    const std::shared_ptr<T>& shared() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    bool IsNil() const { return p_ == nullptr; }
    void Release() { p_.reset(); }

    template <class U>
    friend bool operator==(const Ref& a, const Ref<U>& b)
    {
        return a.get() == b.get();
    }
    friend bool operator==(const Ref& a, std::nullptr_t) { return a.p_ == nullptr; }

private:
    std::shared_ptr<T> p_;
};

template <class T>
class WeakRef {
public:
    WeakRef() = default;
    WeakRef(const Ref<T>& r)
        : p_(r.shared())
    {
    }
    Ref<T> Lock() const { return Ref<T>(p_.lock()); }
    bool Expired() const { return p_.expired(); }

private:
    std::weak_ptr<T> p_;
};

// Makes a new object; its constructor is the class's initialiser, its destructor the finaliser.
template <class T, class... A>
Ref<T> New(A&&... args)
{
    return Ref<T>(std::make_shared<T>(std::forward<A>(args)...));
}

// ---- Values and class tables ------------------------------------------------

enum class Type {
    NothingType,
    BooleanType,
    IntegerType,
    SingleType,
    DoubleType,
    StringType,
    ColorType,
    ObjectType
};
const char* TypeName(Type t);

using Value = std::variant<bool, Integer, Single, Double, String, Color>;
Type TypeOf(const Value& v);

// One stored property: key and typed value.
struct StoredProperty {
    std::string key;
    Value value;
};
using PropertySet = std::vector<StoredProperty>;

struct Attribute {
    std::string name;
    std::string value;
};

// An entry of the operation table, for the framework's introspection.
struct Operation {
    std::string name;
    std::vector<std::string> arguments; // type names
    std::string result; // type name, empty for none
    std::vector<Attribute> attributes;
};

struct PropertyEntry {
    std::string name;
    Type type = Type::NothingType;
    // The declared type: a scalar's name, a class's name, or an array's element type and "()".
    std::string typeName;
    // Applies a value of `type`; nullptr keeps the value in the object's bag only.
    std::function<void(Object&, const Value&)> set;
};

class Graphics;
struct Rect;

// What an event hands its hook: the graphics and the areas of a Paint, for instance.
struct EventArgs {
    Graphics* graphics = nullptr;
    const std::vector<Rect>* areas = nullptr;
};
using EventHookFn = std::function<void(Object&, EventArgs&)>;

struct ClassInfo {
    std::string typeName;
    const ClassInfo* base = nullptr;
    std::function<Ref<Object>()> factory; // empty for abstract classes
    bool hasInitializer = false;
    bool hasFinalizer = false;
    std::vector<Operation> operations; // base's first, in order, then own
    std::vector<PropertyEntry> properties; // own only
    std::vector<std::string> events; // events the class raises (own only)
    std::vector<std::pair<std::string, EventHookFn>> hooks; // events it handles itself
    std::vector<std::string> interfaces;

    bool IsA(const ClassInfo& other) const;
    const PropertyEntry* FindProperty(const std::string& name) const; // own, then bases
    const EventHookFn* FindHook(const std::string& event) const;
    bool DeclaresEvent(const std::string& event) const;
    const Operation* FindOperation(const std::string& name) const;
};

// Keeps a class table for the rest of the run and makes it known by its type name.
// A class registers at its first Lookup(): `static const ClassInfo& info = RegisterClass(...)`.
const ClassInfo& RegisterClass(ClassInfo info);
const ClassInfo* FindClass(const std::string& typeName);

// Builds a class table: the base's operations are copied first, own ones appended.
class ClassBuilder {
public:
    ClassBuilder(std::string typeName, const ClassInfo* base);

    template <class T>
    ClassBuilder& Factory()
    {
        info_.factory = [] { return Ref<Object>(New<T>()); };
        return *this;
    }
    ClassBuilder& Initializer()
    {
        info_.hasInitializer = true;
        return *this;
    }
    ClassBuilder& Finalizer()
    {
        info_.hasFinalizer = true;
        return *this;
    }
    ClassBuilder& Op(std::string name, std::vector<std::string> args = {}, std::string result = {},
        std::vector<Attribute> attributes = {});
    // Replaces an inherited operation in place.
    ClassBuilder& Override(
        const std::string& name, std::vector<std::string> args = {}, std::string result = {});
    ClassBuilder& Event(std::string name);
    ClassBuilder& Interface(std::string name);
    ClassBuilder& Hook(std::string event, EventHookFn fn);

    // A property whose value the object keeps without further effect.
    ClassBuilder& Kept(std::string name, Type type);

    // A property that holds an object or an array, listed with its declared type's
    // name; no stored value can carry one, so SetProperties refuses it.
    ClassBuilder& Held(std::string name, std::string typeName);

    // A property applied through a setter of the class.
    template <class C, class V>
    ClassBuilder& Property(std::string name, void (C::*setter)(V))
    {
        using Arg = std::remove_cvref_t<V>;
        return AddProperty(std::move(name), TypeFor<Arg>(),
            [setter](Object& o, const Value& v) { (static_cast<C&>(o).*setter)(ConvertValue<Arg>(v)); });
    }

    // A property that is a plain data member of the class.
    template <class C, class M>
    ClassBuilder& Field(std::string name, M C::*member)
    {
        return AddProperty(std::move(name), TypeFor<M>(),
            [member](Object& o, const Value& v) { static_cast<C&>(o).*member = ConvertValue<M>(v); });
    }

    ClassInfo Build() const;

private:
    template <class V>
    static constexpr Type TypeFor()
    {
        if constexpr (std::is_same_v<V, bool>)
            return Type::BooleanType;
        else if constexpr (std::is_same_v<V, Integer>)
            return Type::IntegerType;
        else if constexpr (std::is_same_v<V, Single>)
            return Type::SingleType;
        else if constexpr (std::is_same_v<V, Double>)
            return Type::DoubleType;
        else if constexpr (std::is_same_v<V, String>)
            return Type::StringType;
        else if constexpr (std::is_same_v<V, Color>)
            return Type::ColorType;
        else
            static_assert(sizeof(V) == 0, "unsupported property type");
    }
    template <class V>
    static V ConvertValue(const Value& v)
    {
        return std::get<V>(v);
    }

    ClassBuilder& AddProperty(std::string name, Type type, std::function<void(Object&, const Value&)> set);

    ClassInfo info_;
};

// Declares the class-table members of a class: Lookup() builds and registers the
// table at its first call; Class() gives the table of the object's own class.
#define FW_OBJECT(Name)                                                                                      \
public:                                                                                                      \
    static const ::fw::ClassInfo& Lookup();                                                                  \
    const ::fw::ClassInfo& Class() const override                                                            \
    {                                                                                                        \
        return Name::Lookup();                                                                               \
    }

class Object : public std::enable_shared_from_this<Object> {
public:
    Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    virtual ~Object() = default;

    static const ClassInfo& Lookup();
    virtual const ClassInfo& Class() const { return Object::Lookup(); }

    template <class T = Object>
    Ref<T> Self()
    {
        return Ref<T>(std::static_pointer_cast<T>(shared_from_this()));
    }

    // The value last stored under `key` by SetProperties, if any.
    const Value* StoredValue(const std::string& key) const;

    // Raises an event: a bound delegate takes it first, else the class's own hook.
    // Returns whether anything handled it.
    bool RaiseEvent(const std::string& event, EventArgs& args);
    bool RaiseEvent(const std::string& event)
    {
        EventArgs args;
        return RaiseEvent(event, args);
    }

private:
    friend void SetProperties(const Ref<Object>&, const PropertySet&);
    friend void RuntimeAddEventHandler(const Ref<Object>&, const std::string&, struct Delegate);

    std::map<std::string, Value> stored_;
    std::map<std::string, std::function<void(const Ref<Object>&)>> handlers_;
};

// Applies every stored value to the property of that name (framework or the
// object's own class). An unknown key raises KeyNotFoundException, a value of the
// wrong type TypeMismatchException; the values before it stay applied.
void SetProperties(const Ref<Object>& target, const PropertySet& properties);

// The type-tested cast. Nil casts to nil; an object of another class raises
// IllegalCastException.
template <class T>
Ref<T> RuntimeCheckCast(const Ref<Object>& object)
{
    if (!object)
        return Ref<T>();
    if (!object->Class().IsA(T::Lookup()))
        throw IllegalCastException(
            "an object of class " + object->Class().typeName + " is not a " + T::Lookup().typeName);
    return Ref<T>(std::static_pointer_cast<T>(object.shared()));
}

// ---- Delegates --------------------------------------------------------------

// A method bound to its object. The object is held weakly, so that a control
// bound to its window does not keep the window alive.
struct Delegate {
    std::string signature;
    std::function<void(const Ref<Object>& sender)> invoke;
};

template <class W, class C>
Delegate RuntimeCreateDelegate(void (W::*method)(const Ref<C>&), const Ref<W>& target)
{
    std::weak_ptr<W> weak = target.shared();
    return Delegate { "(sender as " + C::Lookup().typeName + ")", [weak, method](const Ref<Object>& sender) {
                         auto self = weak.lock();
                         if (!self)
                             throw NilObjectException("the delegate's object is gone");
                         (self.get()->*method)(RuntimeCheckCast<C>(sender));
                     } };
}

// A menu handler, "(  ) as Boolean".
struct MenuDelegate {
    std::string signature;
    std::function<bool()> invoke;
};

template <class W>
MenuDelegate RuntimeCreateDelegate(bool (W::*method)(), const Ref<W>& target)
{
    std::weak_ptr<W> weak = target.shared();
    return MenuDelegate { "(  ) as Boolean", [weak, method]() {
                             auto self = weak.lock();
                             if (!self)
                                 throw NilObjectException("the delegate's object is gone");
                             return (self.get()->*method)();
                         } };
}

// Binds `event` of `object` to the delegate, which then receives the object.
// An event the object's class does not raise gives KeyNotFoundException.
void RuntimeAddEventHandler(const Ref<Object>& object, const std::string& event, Delegate handler);

// ---- Calls from the event loop ----------------------------------------------

// Runs program code from a Qt callback. Nothing may unwind through Qt, so what
// escapes goes to UnhandledException (application family) and the loop goes on.
void Dispatch(const std::function<void()>& fn) noexcept;

} // namespace fw
