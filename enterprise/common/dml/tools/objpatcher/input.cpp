#include "enterprise/common/dml/tools/objpatcher/input.h"

#include "core/common/error.h"
#include "core/common/message_catalogue.h"
#include "core/common/message_format.h"
#include "core/common/number_text.h"
#include "core/common/text_conversion.h"
#include "enterprise/common/dml/tools/objpatcher/tool_errors.h"
#include "enterprise/common/dml/tools/objpatcher/tool_locations.h"
#include "enterprise/common/por/parser/unit_construction_format.h"
#include "enterprise/common/por/por_errors.h"

namespace Objpatcher {

std::shared_ptr<Por::Construction::Unit> ReadInput(const InputChoice& input,
                                                   const Por::Construction::UnitFactory& factory)
{
    const std::u16string value = Common::FromUtf8(input.value);
    std::unique_ptr<Utils::DataReader> reader;
    if (input.isText)
        reader = std::make_unique<Utils::InMemoryDataReader>(value);
    else
        reader = std::make_unique<Utils::FileReader>(value);
    std::shared_ptr<Por::Construction::Unit> unit;
    Utils::ReadProgress progress;
    {
        Utils::UnitConstructionFormat format;
        unit = format.Read(*reader, factory, progress);
    }
    if (!unit) {
        const std::u16string text = Common::FormatMessage(
            Common::GetMessageText(ToolErrors::kIncompleteInputText),
            {Common::ToDecimalText(progress.statements), Common::ToDecimalText(progress.open)});
        Common::ThrowError(Common::Error(PorErrors::kNullUnit, text.c_str(), kMainSource.At("ReadInput", __LINE__)));
    }
    return unit;
}

} // namespace Objpatcher
