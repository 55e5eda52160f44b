// Unit paths: a UTF-16 text naming a unit inside a tree by the chain of
// steps from a start unit. A step is a separator and a token: ".name" for a
// property (an element index where the current unit is an Array), "^name" for
// a trait (understood by the View-level lookup only). Tokens are escaped
// names: "&d;" stands for '.', "&r;" for '^'. A separator directly after the
// separator opening a step, or doubled, belongs to the token.
//
// The writers produce '.' steps of escaped names only. WalkPath splits at
// every '.' and raises on a malformed path; PutUnitInLocation writes a deep
// copy of a unit at a path, creating missing Composite steps (and the root).
//
// Errors (source enterprise/common/por/path_utils), Por::ModuleError 0xFA0001
// with the path: 366 (no leading '.'), 364 (a lone '.'), 365 (a trailing '.');
// 0xFA001B "POR: Branch '{0}' cannot be found."; a step into a unit that is not
// a Composite while writing: Common::Error 0xFA0001 "POR: An internal error has
// occurred.". Errors of the property, trait and array operations pass through.
//
// Threading: the caller's thread.
#pragma once

#include <memory>
#include <string>

#include "core/common/non_copyable.h"
#include "enterprise/common/por/unit_factory.h"

namespace Por::Util {

std::u16string EscapeName(const std::u16string& name);
void UnescapeName(std::u16string& token);

std::u16string MakePropertyPath(const Name& name);
void AppendPropertyPath(std::u16string& path, const Name& name);
std::u16string MakeChildPath(const std::u16string& path, const Name& name);

// Null start or nothing at the path: null. An index step reads the token as a
// 64-bit number (a token that is no number gives null); an index at or past
// the end raises the array's out-of-range error.
const View::Unit* FindConstUnitByPath(const View::Unit* start, const std::u16string& path);
Construction::Unit* FindUnitByPath(Construction::Unit* start, const std::u16string& path);

class PathWalker : private Common::NonCopyable
{
public:
    virtual ~PathWalker() = default;
    virtual void OnProperty(const Name& name) = 0;
    virtual void OnTrait(const Name& name) = 0; // never called by WalkPath
    virtual void OnEmptyPath() = 0;
};

void WalkPath(const std::u16string& path, PathWalker& walker);

// Cuts the last step off `path` (leaving its parent path) and gives its token
// as a name; `isTrait`, when given, tells whether the step was a '^' step.
Name SplitLastStep(std::u16string& path, bool* isTrait = nullptr);

void RemoveUnitByPath(Construction::Unit* root, const std::u16string& path);
Construction::Unit* CheckBranchValidity(Construction::Unit* unit, const std::u16string& path);

// Puts a deep copy of `unit` at `path` below `root` (an empty root gets a new
// Composite) and gives the root to keep; an empty path gives the copy itself.
// The unit at the path is replaced only when the copy is written: a failing
// walk leaves the tree's old value in place.
std::shared_ptr<Construction::Unit> PutUnitInLocation(std::shared_ptr<Construction::Unit> root, const View::Unit& unit,
                                                      const std::u16string& path,
                                                      const Construction::UnitFactory* factory);

} // namespace Por::Util

namespace Por {

// The innermost unit reached through the first property of each Composite.
Construction::Unit* FindFirstLeafUnit(Construction::Unit* unit);

} // namespace Por
