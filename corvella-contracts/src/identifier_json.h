#pragma once

// Private to the training contracts: the identifiers in JSON, each as its
// UUID's text, for the member tables of the records that hold them.

#include "corvella/ids/ids.h"
#include "quenmark/json/binding.h"

namespace corvella {

template<typename S, typename Tag>
void write_value(S& sink, Identifier<Tag> const& id)
{
    quenmark::json::write_value(sink, id.uuid());
}

template<typename Tag>
[[nodiscard]] quenmark::json::Read<void> read_value(quenmark::json::ValueReader& reader, Identifier<Tag>& out)
{
    quenmark::Uuid uuid;
    TRY(quenmark::json::read_value(reader, uuid));
    out = Identifier<Tag>::from_uuid(uuid);
    return {};
}

} // namespace corvella
