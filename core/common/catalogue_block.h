// The built-in English message catalogue block, generated at build time from
// core/common/messages.tsv (core/common/gen_catalogue.py). Constant data,
// valid before main; threads may read it freely.
#pragma once

namespace Common::Detail {

extern const unsigned char kBuiltInCatalogueBlock[];
extern const unsigned kBuiltInCatalogueSize;

} // namespace Common::Detail
