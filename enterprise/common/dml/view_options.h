// View options: the vocabulary of the options unit of a view request and the
// functions that read and write it.
//
//   "LimitOptions"   DWord: the upper bound of the view
//   "EntryPoint"     Composite {"ID" QWord, "File" String, "Line" DWord}: the caller
//   "SortingOptions" Array of sort keys, in the order added
//   "Counter"        Composite {"CounterObjectTemplate"}: count the matching objects
//
// A sort key is a Composite naming a property path by nesting; its innermost
// value (through the first property of each composite) carries a Nil trait
// giving the direction. The time-stamp key is {"DmlTimeStamp": SQWord 0} with
// the trait "Ascending " (trailing blank included). The counter template is
// {"ID": a new random Guid marked "PrimaryKey"}; the server answers a counter
// view with a unit whose "CounterValue" (DWord) is the count.
//
// A service that answers a view reads what its options ask with
// ReadViewRequest: the bound, and whether to count; no options (or a Nil) ask
// for nothing. Options that are not a Composite and a "LimitOptions" that is
// not a DWord cannot be read, and the reader says which.
//
// The functions that return a ViewSpec never change their argument: the new
// spec shares the pattern and owns a new options unit (a copy of the old one,
// or an empty Composite). Options that are not a Composite, a "LimitOptions"
// that is not a DWord and a "SortingOptions" that is not an Array raise the
// object model's type-mismatch error 0xFA000A.
//
// Threading: no state; runs on the caller's thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "enterprise/common/dml/entry_point.h"
#include "enterprise/common/por/name.h"
#include "enterprise/common/por/unit_factory.h"
#include "xidl/view_management.h"

namespace Dml {

// The "LimitOptions" the view providers give a view whose options have none: a
// view that delivers this many objects may have left matches out.
inline constexpr uint32_t kDefaultViewLimit = 2000;

// True when the options have a child "LimitOptions" of any kind.
bool HasLimitOptions(const Por::View::Unit& options);
void SetLimitOptions(Por::Construction::Unit& options, uint32_t limit, const Por::Construction::UnitFactory& factory);
// Adds "EntryPoint", replacing an earlier one; the data array is not written.
void SetEntryPoint(Por::Construction::Unit& options, const Core::EntryPoint& caller,
                   const Por::Construction::UnitFactory& factory);

ViewSpec LimitViewSpec(const ViewSpec& spec, uint32_t limit, const Por::Construction::UnitFactory& factory);
ViewSpec SortByTimeStamp(const ViewSpec& spec, const Por::Construction::UnitFactory& factory);
ViewSpec MakeCounterViewSpec(const ViewSpec& spec, const Por::Construction::UnitFactory& factory);
// "CounterValue" of the answer; 0 when it is missing or not a DWord.
uint32_t GetCounterValue(const Por::View::Unit& answer);

// What view options ask of the service that answers the view.
struct ViewRequest
{
    std::optional<uint32_t> limit; // "LimitOptions"; none: every match
    bool counter = false;          // "Counter" is present, whatever it holds
};
// Reads `options` (null: none) into `request`. False, with `fault` saying what
// cannot be read, for options that cannot (see above).
bool ReadViewRequest(const Por::View::Unit* options, ViewRequest& request, std::string& fault);
// The answer of a counter view: {"CounterValue": DWord count}; a count past
// the DWord's range is answered as its largest value.
std::unique_ptr<Por::Construction::Unit> MakeCounterAnswer(uint64_t count,
                                                           const Por::Construction::UnitFactory& factory);

// Building blocks of the operations above.
std::unique_ptr<Por::Construction::Unit> MakeTimeStampSortKey(const Por::Construction::UnitFactory& factory);
// Appends a copy of `key` whose innermost value carries the Nil trait
// `direction`; a key whose innermost value is an Array or a Composite adds nothing.
void AddSortKey(Por::Construction::Unit& options, const Por::View::Unit& key, const Por::Name& direction,
                const Por::Construction::UnitFactory& factory);
void AddAscendingSortKey(Por::Construction::Unit& options, const Por::View::Unit& key,
                         const Por::Construction::UnitFactory& factory);
std::unique_ptr<Por::Construction::Unit> MakeSortedOptions(const std::shared_ptr<const Por::View::Unit>& options,
                                                           const Por::Construction::UnitFactory& factory);
void AddCounterRequest(Por::Construction::Unit& options, const Por::Construction::UnitFactory& factory);
// Adds a copy of `counterTemplate` as "Counter"."CounterObjectTemplate"; a
// template without an object key throws 0xFC000A.
void AddCounterTemplate(Por::Construction::Unit& options, const Por::View::Unit& counterTemplate,
                        const Por::Construction::UnitFactory& factory);

} // namespace Dml
