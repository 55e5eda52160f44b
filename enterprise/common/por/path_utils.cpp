#include "enterprise/common/por/path_utils.h"

#include <cstdint>

#include "core/common/location.h"
#include "core/common/number_text.h"
#include "core/common/text_conversion.h"
#include "enterprise/common/por/array_helpers.h"
#include "enterprise/common/por/module_error.h"
#include "enterprise/common/por/por_errors.h"
#include "enterprise/common/por/unit_copier.h"
#include "enterprise/common/por/utils.h"
#include "enterprise/common/por/value_type_index.h"

namespace Por::Util {

namespace {

constexpr Common::SourceFile kSource("enterprise/common/por/path_utils", 0xbdb15d965e4d5de3ull - 332);

bool IsSeparator(char16_t c)
{
    return c == u'.' || c == u'^';
}

void ReplaceAll(std::u16string& text, const std::u16string& pattern, const std::u16string& replacement)
{
    for (size_t at = text.find(pattern); at != std::u16string::npos; at = text.find(pattern, at + replacement.size()))
        text.replace(at, pattern.size(), replacement);
}

// The name of an (escaped) token: unescaped, UTF-8 up to its first NUL.
Name NameOfToken(std::u16string token)
{
    UnescapeName(token);
    return Name(std::u16string_view(token.c_str()));
}

[[noreturn]] void ThrowPathError(unsigned code, unsigned key, const char* function, uint32_t line,
                                 const std::u16string& path)
{
    ThrowModuleError(code, key, kSource.At(function, line), {path});
}

// The end of the token starting at `start` (after the separator opening the step).
size_t TokenEnd(const std::u16string& path, size_t start)
{
    size_t at = start;
    if (at < path.size() && IsSeparator(path[at]))
        ++at; // a separator right after the opening one belongs to the token
    while (at < path.size()) {
        if (IsSeparator(path[at])) {
            if (at + 1 < path.size() && path[at + 1] == path[at]) {
                at += 2; // a doubled separator stays in the token
                continue;
            }
            break;
        }
        ++at;
    }
    return at;
}

template <typename UnitT>
UnitT* ElementAt(UnitT& array, const std::u16string& token)
{
    uint64_t index = 0;
    if (!Common::ParseUInt64(index, token.c_str(), 10))
        return nullptr;                   // no number: no element
    return GetArrayElement(array, index); // the full 64-bit index: past the end raises
}

const View::Unit* PropertyStep(const View::Unit& unit, const Name& name)
{
    const View::Property* property = FindConstProperty(unit, name);
    return property ? &property->GetValue() : nullptr;
}

Construction::Unit* PropertyStep(Construction::Unit& unit, const Name& name)
{
    Construction::Property* property = FindProperty(unit, name);
    return property ? &property->GetValue() : nullptr;
}

template <typename UnitT>
UnitT* FindByPath(UnitT* current, const std::u16string& path, bool traitSteps)
{
    size_t at = 0;
    while (current && at < path.size()) {
        bool trait = false;
        if (IsSeparator(path[at])) {
            trait = traitSteps && path[at] == u'^';
            ++at;
        }
        const size_t end = TokenEnd(path, at);
        if (end == at)
            return current; // the path ended with this separator
        const std::u16string token = path.substr(at, end - at);
        at = end;
        const Name name = NameOfToken(token);
        if constexpr (std::is_const_v<UnitT>) {
            if (trait) {
                current = &GetUniqueTraitByName(*current, name);
                continue;
            }
        }
        const int kind = GetValueTypeIndex(*current);
        if (kind == kArrayKind)
            current = ElementAt(*current, token);
        else if (kind == kCompositeKind)
            current = PropertyStep(*current, name);
        else
            current = nullptr;
    }
    return current;
}

// The walker of PutUnitInLocation: descends into (creating) Composite steps,
// keeping the last delivered name pending.
class PutUnitInLocationEx final : public PathWalker
{
public:
    PutUnitInLocationEx(std::shared_ptr<Construction::Unit> root, const Construction::UnitFactory* factory,
                        const std::u16string& path)
        : root(std::move(root)), current(this->root.get()), m_factory(factory), m_path(path)
    {
    }

    void OnProperty(const Name& name) override
    {
        if (pending.GetText()[0] != '\0') {
            if (!HasProperty(*current, pending))
                AddProperty(*current, pending, m_factory->CreateComposite(), *m_factory);
            current = &GetProperty(*current, pending).GetValue();
            if (!IsComposite(*current)) {
                const std::u16string detail = u"Path " + m_path + u" contains non composite unit '" + name.ToUtf16() +
                    u"'";
                Common::ThrowError(MakePorError(PorErrors::kGeneral, PorErrors::kInternalErrorText,
                                                kSource.At("OnProperty", 734), {detail}, RecordKind::WideText));
            }
        }
        pending = name;
    }
    void OnTrait(const Name&) override {}
    void OnEmptyPath() override {}

    std::shared_ptr<Construction::Unit> root;
    Construction::Unit* current;
    Name pending;

private:
    const Construction::UnitFactory* m_factory;
    const std::u16string& m_path;
};

} // namespace

std::u16string EscapeName(const std::u16string& name)
{
    std::u16string escaped = name;
    ReplaceAll(escaped, u".", u"&d;");
    ReplaceAll(escaped, u"^", u"&r;");
    return escaped;
}

void UnescapeName(std::u16string& token)
{
    ReplaceAll(token, u"&d;", u".");
    ReplaceAll(token, u"&r;", u"^");
}

std::u16string MakePropertyPath(const Name& name)
{
    return u"." + EscapeName(name.ToUtf16());
}

void AppendPropertyPath(std::u16string& path, const Name& name)
{
    path += MakePropertyPath(name);
}

std::u16string MakeChildPath(const std::u16string& path, const Name& name)
{
    return path + MakePropertyPath(name);
}

const View::Unit* FindConstUnitByPath(const View::Unit* start, const std::u16string& path)
{
    return FindByPath(start, path, true);
}

Construction::Unit* FindUnitByPath(Construction::Unit* start, const std::u16string& path)
{
    return FindByPath(start, path, false);
}

void WalkPath(const std::u16string& path, PathWalker& walker)
{
    if (path.empty()) {
        walker.OnEmptyPath();
        return;
    }
    if (path[0] != u'.')
        ThrowPathError(PorErrors::kGeneral, PorErrors::kPathBadStartText, "WalkPath", 463, path);
    if (path.size() == 1)
        ThrowPathError(PorErrors::kGeneral, PorErrors::kPathEmptyTokenText, "WalkPath", 465, path);
    size_t at = 1;
    for (;;) {
        const size_t dot = path.find(u'.', at);
        walker.OnProperty(NameOfToken(path.substr(at, dot == std::u16string::npos ? dot : dot - at)));
        if (dot == std::u16string::npos)
            return;
        if (dot + 1 == path.size())
            ThrowPathError(PorErrors::kGeneral, PorErrors::kPathTrailingSeparatorText, "AdvanceAndUnescape", 445, path);
        at = dot + 1;
    }
}

Name SplitLastStep(std::u16string& path, bool* isTrait)
{
    if (path.empty() || (path.size() == 1 && IsSeparator(path[0])))
        return Name();
    size_t searchEnd = path.size(); // the search looks at positions below it
    if (IsSeparator(path.back()))
        --searchEnd; // a trailing separator stays in the token
    size_t at = searchEnd;
    while (at > 0) {
        --at;
        if (!IsSeparator(path[at]))
            continue;
        if (at > 0 && path[at - 1] == path[at]) {
            --at; // a doubled separator belongs to the token
            continue;
        }
        if (isTrait)
            *isTrait = path[at] == u'^';
        const std::u16string token = path.substr(at + 1);
        path.resize(at);
        return NameOfToken(token);
    }
    const std::u16string token = path;
    path.clear();
    return NameOfToken(token);
}

void RemoveUnitByPath(Construction::Unit* root, const std::u16string& path)
{
    if (!FindUnitByPath(root, path))
        return;
    std::u16string parentPath = path;
    const Name name = SplitLastStep(parentPath);
    if (name.GetText()[0] == '\0')
        return;
    RemoveProperty(*CheckBranchValidity(FindUnitByPath(root, parentPath), parentPath), name);
}

Construction::Unit* CheckBranchValidity(Construction::Unit* unit, const std::u16string& path)
{
    if (!unit)
        ThrowPathError(PorErrors::kBranchNotFound, PorErrors::kBranchNotFoundText, "CheckBranchValidity", 332, path);
    return unit;
}

std::shared_ptr<Construction::Unit> PutUnitInLocation(std::shared_ptr<Construction::Unit> root, const View::Unit& unit,
                                                      const std::u16string& path,
                                                      const Construction::UnitFactory* factory)
{
    if (path.empty())
        return std::shared_ptr<Construction::Unit>(CopyUnit(unit, *factory));
    // No removal up front: the final AddPropertyCopy replaces the property it
    // writes, so a path that writes elsewhere, or a failing walk, leaves the
    // old unit in place.
    if (!root)
        root = std::shared_ptr<Construction::Unit>(factory->CreateComposite());
    PutUnitInLocationEx walker(std::move(root), factory, path);
    WalkPath(path, walker);
    AddPropertyCopy(*walker.current, walker.pending, unit, *factory);
    return walker.root;
}

} // namespace Por::Util

namespace Por {

Construction::Unit* FindFirstLeafUnit(Construction::Unit* unit)
{
    Construction::Unit* current = unit;
    std::u16string path; // built on the way, not used
    bool descended = true;
    while (current && descended) {
        descended = false;
        auto searcher = ProcessorOf<Construction::Property>([&](Construction::Property& property) {
            current = &property.GetValue();
            Util::AppendPropertyPath(path, property.GetName());
            descended = true;
            return true;
        });
        Util::EnumerateProperties(*current, searcher);
    }
    return current;
}

} // namespace Por
