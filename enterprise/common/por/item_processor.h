// Por::ItemProcessor<T>: the callback of every enumeration of the object model
// (array elements, properties, traits). Process answers true to stop the
// enumeration at once; no further item is handed over.
//
// Por::ProcessorOf<T>(f) wraps a callable bool(T&) for one call on the stack:
//     auto seen = Por::ProcessorOf<const Por::View::Unit>([&](const Por::View::Unit& u) { ...; return false; });
//     array.ForEach(seen);
//
// Declaration order is the binary order; never insert or reorder.
// Threading: a processor is used on the caller's thread for one call.
#pragma once

#include <utility>

namespace Por {

template <typename T>
class ItemProcessor
{
public:
    virtual ~ItemProcessor() = default;
    virtual bool Process(T& item) = 0;
};

template <typename T, typename F>
class FunctionProcessor final : public ItemProcessor<T>
{
public:
    explicit FunctionProcessor(F function) : m_function(std::move(function)) {}
    bool Process(T& item) override { return m_function(item); }

private:
    F m_function;
};

template <typename T, typename F>
FunctionProcessor<T, F> ProcessorOf(F function)
{
    return FunctionProcessor<T, F>(std::move(function));
}

} // namespace Por
