#include "framework/runtime.h"

#include <algorithm>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace fw {

namespace {

// Static initialisation runs on the thread that starts the process.
const std::thread::id mainThread = std::this_thread::get_id();

struct ClassRegistry {
    std::mutex mutex;
    std::unordered_map<std::string, std::unique_ptr<ClassInfo>> byName;
};

ClassRegistry& Registry()
{
    static ClassRegistry registry;
    return registry;
}

} // namespace

bool IsMainThread()
{
    return std::this_thread::get_id() == mainThread;
}

void CheckMainThread(const char* member)
{
    if (!IsMainThread())
        throw ThreadAccessingUIException(std::string(member) + " may only be used on the main thread");
}

const char* TypeName(Type t)
{
    switch (t) {
    case Type::NothingType:
        return "Nothing";
    case Type::BooleanType:
        return "Boolean";
    case Type::IntegerType:
        return "Integer";
    case Type::SingleType:
        return "Single";
    case Type::DoubleType:
        return "Double";
    case Type::StringType:
        return "String";
    case Type::ColorType:
        return "Color";
    case Type::ObjectType:
        return "Object";
    }
    return "?";
}

Type TypeOf(const Value& v)
{
    static constexpr Type types[] = { Type::BooleanType, Type::IntegerType, Type::SingleType,
        Type::DoubleType, Type::StringType, Type::ColorType };
    return types[v.index()];
}

// ---- ClassInfo ----------------------------------------------------------------

bool ClassInfo::IsA(const ClassInfo& other) const
{
    for (const ClassInfo* c = this; c; c = c->base)
        if (c == &other)
            return true;
    return false;
}

const PropertyEntry* ClassInfo::FindProperty(const std::string& name) const
{
    for (const ClassInfo* c = this; c; c = c->base)
        for (const PropertyEntry& p : c->properties)
            if (p.name == name)
                return &p;
    return nullptr;
}

const EventHookFn* ClassInfo::FindHook(const std::string& event) const
{
    for (const ClassInfo* c = this; c; c = c->base)
        for (const auto& [name, fn] : c->hooks)
            if (name == event)
                return &fn;
    return nullptr;
}

bool ClassInfo::DeclaresEvent(const std::string& event) const
{
    for (const ClassInfo* c = this; c; c = c->base)
        if (std::find(c->events.begin(), c->events.end(), event) != c->events.end())
            return true;
    return false;
}

const Operation* ClassInfo::FindOperation(const std::string& name) const
{
    for (const Operation& op : operations)
        if (op.name == name)
            return &op;
    return nullptr;
}

const ClassInfo& RegisterClass(ClassInfo info)
{
    ClassRegistry& r = Registry();
    std::lock_guard lock(r.mutex);
    auto& slot = r.byName[info.typeName];
    if (slot)
        throw RuntimeException("the class " + info.typeName + " is registered twice");
    slot = std::make_unique<ClassInfo>(std::move(info));
    return *slot;
}

const ClassInfo* FindClass(const std::string& typeName)
{
    ClassRegistry& r = Registry();
    std::lock_guard lock(r.mutex);
    auto it = r.byName.find(typeName);
    return it == r.byName.end() ? nullptr : it->second.get();
}

// ---- ClassBuilder -------------------------------------------------------------

ClassBuilder::ClassBuilder(std::string typeName, const ClassInfo* base)
{
    info_.typeName = std::move(typeName);
    info_.base = base;
    if (base)
        info_.operations = base->operations;
}

ClassBuilder& ClassBuilder::Op(
    std::string name, std::vector<std::string> args, std::string result, std::vector<Attribute> attributes)
{
    info_.operations.push_back(
        { std::move(name), std::move(args), std::move(result), std::move(attributes) });
    return *this;
}

ClassBuilder& ClassBuilder::Override(
    const std::string& name, std::vector<std::string> args, std::string result)
{
    for (Operation& op : info_.operations)
        if (op.name == name && op.arguments == args) {
            op.result = std::move(result);
            return *this;
        }
    throw KeyNotFoundException(info_.typeName + " overrides no operation " + name);
}

ClassBuilder& ClassBuilder::Event(std::string name)
{
    info_.events.push_back(std::move(name));
    return *this;
}

ClassBuilder& ClassBuilder::Interface(std::string name)
{
    info_.interfaces.push_back(std::move(name));
    return *this;
}

ClassBuilder& ClassBuilder::Hook(std::string event, EventHookFn fn)
{
    info_.hooks.emplace_back(std::move(event), std::move(fn));
    return *this;
}

ClassBuilder& ClassBuilder::Kept(std::string name, Type type)
{
    return AddProperty(std::move(name), type, nullptr);
}

ClassBuilder& ClassBuilder::Held(std::string name, std::string typeName)
{
    info_.properties.push_back({ std::move(name), Type::ObjectType, std::move(typeName), nullptr });
    return *this;
}

ClassBuilder& ClassBuilder::AddProperty(
    std::string name, Type type, std::function<void(Object&, const Value&)> set)
{
    info_.properties.push_back({ std::move(name), type, TypeName(type), std::move(set) });
    return *this;
}

ClassInfo ClassBuilder::Build() const
{
    return info_;
}

// ---- Object -------------------------------------------------------------------

const ClassInfo& Object::Lookup()
{
    static const ClassInfo& info = RegisterClass(ClassBuilder("Object", nullptr).Build());
    return info;
}

const Value* Object::StoredValue(const std::string& key) const
{
    auto it = stored_.find(key);
    return it == stored_.end() ? nullptr : &it->second;
}

bool Object::RaiseEvent(const std::string& event, EventArgs& args)
{
    if (auto it = handlers_.find(event); it != handlers_.end()) {
        auto handler = it->second; // the handler may rebind the event while it runs
        handler(Self());
        return true;
    }
    if (const EventHookFn* hook = Class().FindHook(event)) {
        (*hook)(*this, args);
        return true;
    }
    return false;
}

void SetProperties(const Ref<Object>& target, const PropertySet& properties)
{
    Object& object = *target;
    const ClassInfo& info = object.Class();
    for (const StoredProperty& p : properties) {
        const PropertyEntry* entry = info.FindProperty(p.key);
        if (!entry)
            throw KeyNotFoundException(info.typeName + " has no property " + p.key);
        Type given = TypeOf(p.value);
        if (given != entry->type)
            throw TypeMismatchException(
                info.typeName + "." + p.key + " takes " + TypeName(entry->type) + ", not " + TypeName(given));
        if (entry->set)
            entry->set(object, p.value);
        object.stored_[p.key] = p.value;
    }
}

void RuntimeAddEventHandler(const Ref<Object>& object, const std::string& event, Delegate handler)
{
    if (!object->Class().DeclaresEvent(event))
        throw KeyNotFoundException(object->Class().typeName + " raises no event " + event);
    object->handlers_[event] = std::move(handler.invoke);
}

} // namespace fw
