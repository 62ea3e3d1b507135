#pragma once

// The training domain's identifiers: ten distinct types, each wrapping one
// 16-byte UUID, so that an assessment id can never stand where an assignment
// id is expected.

#include "quenmark/errors/contract_error.h"
#include "quenmark/expected.h"
#include "quenmark/ids/uuid.h"

#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>

namespace corvella {

// How an identifier shows itself inside error messages.
enum class DebugForm : std::uint8_t {
    None,  // the type has no debug form
    Full,  // name + "(" + canonical text + ")"
    Short, // name + "(" + first 8 hex digits + "…" + ")"
};

// One identifier type per tag; the tag names the type and its debug form.
template<typename Tag>
class Identifier {
public:
    // The nil identifier; records read from JSON overwrite it.
    constexpr Identifier() = default;

    // A fresh random version-4 identifier; stops the process if the random
    // source fails.
    static Identifier mint() { return Identifier(quenmark::Uuid::mint()); }

    // Any text form the UUID parser accepts. On failure: InvalidIdentifier
    // whose kind is the type's name and whose reason is the parser's message.
    [[nodiscard]] static quenmark::Expected<Identifier, quenmark::ContractError> parse(std::string_view text)
    {
        auto uuid = quenmark::Uuid::parse(text);
        if (!uuid)
            return quenmark::unexpected(quenmark::ContractError::invalid_identifier(Tag::name, std::move(uuid).error()));
        return Identifier(*uuid);
    }

    // Wraps bytes that already name a record of this type (for example the
    // plain UUID an audit event carries).
    static constexpr Identifier from_uuid(quenmark::Uuid uuid) { return Identifier(uuid); }

    static constexpr std::string_view type_name() { return Tag::name; }

    // Lowercase hyphenated text, 36 characters.
    std::string to_string() const { return m_uuid.to_string(); }
    void append_to(std::string& out) const { m_uuid.append_to(out); }

    std::string debug_form() const
        requires(Tag::debug_form != DebugForm::None)
    {
        std::string text(Tag::name);
        text.push_back('(');
        if constexpr (Tag::debug_form == DebugForm::Full)
            m_uuid.append_to(text);
        else
            text.append(m_uuid.short_form());
        text.push_back(')');
        return text;
    }

    constexpr quenmark::Uuid const& uuid() const { return m_uuid; }

    friend auto operator<=>(Identifier const&, Identifier const&) = default;

private:
    constexpr explicit Identifier(quenmark::Uuid uuid) : m_uuid(uuid) { }
    quenmark::Uuid m_uuid;
};

struct CourseIdTag {
    static constexpr std::string_view name = "CourseId";
    static constexpr DebugForm debug_form = DebugForm::None;
};
struct AssessmentIdTag {
    static constexpr std::string_view name = "AssessmentId";
    static constexpr DebugForm debug_form = DebugForm::Full;
};
struct QuestionIdTag {
    static constexpr std::string_view name = "QuestionId";
    static constexpr DebugForm debug_form = DebugForm::Full;
};
struct AssignmentIdTag {
    static constexpr std::string_view name = "AssignmentId";
    static constexpr DebugForm debug_form = DebugForm::Short;
};
struct AttemptIdTag {
    static constexpr std::string_view name = "AttemptId";
    static constexpr DebugForm debug_form = DebugForm::Short;
};
struct CompletionRecordIdTag {
    static constexpr std::string_view name = "CompletionRecordId";
    static constexpr DebugForm debug_form = DebugForm::None;
};
struct CertificationIdTag {
    static constexpr std::string_view name = "CertificationId";
    static constexpr DebugForm debug_form = DebugForm::Short;
};
struct TenantIdTag {
    static constexpr std::string_view name = "TenantId";
    static constexpr DebugForm debug_form = DebugForm::None;
};
struct WorkspaceIdTag {
    static constexpr std::string_view name = "WorkspaceId";
    static constexpr DebugForm debug_form = DebugForm::None;
};
struct IdentityIdTag {
    static constexpr std::string_view name = "IdentityId";
    static constexpr DebugForm debug_form = DebugForm::None;
};

using CourseId = Identifier<CourseIdTag>;
using AssessmentId = Identifier<AssessmentIdTag>;
using QuestionId = Identifier<QuestionIdTag>;
using AssignmentId = Identifier<AssignmentIdTag>;
using AttemptId = Identifier<AttemptIdTag>;
using CompletionRecordId = Identifier<CompletionRecordIdTag>;
using CertificationId = Identifier<CertificationIdTag>;
using TenantId = Identifier<TenantIdTag>;
using WorkspaceId = Identifier<WorkspaceIdTag>;
using IdentityId = Identifier<IdentityIdTag>;

// The product identifier every audit event of this system carries: "corvella".
quenmark::Slug product_id();

// True for the command-line word that asks for a fresh identifier: exactly
// three bytes spelling "new" in any mix of ASCII letter cases.
bool is_new_word(std::string_view text);

// A fresh identifier for the word new, otherwise the parsed text.
template<typename Id>
[[nodiscard]] quenmark::Expected<Id, quenmark::ContractError> mint_or_parse(std::string_view text)
{
    if (is_new_word(text))
        return Id::mint();
    return Id::parse(text);
}

} // namespace corvella

template<typename Tag>
struct std::hash<corvella::Identifier<Tag>> {
    std::size_t operator()(corvella::Identifier<Tag> const& id) const noexcept
    {
        // The bytes are random, so folding the two halves spreads well.
        std::uint64_t high = 0;
        std::uint64_t low = 0;
        std::memcpy(&high, id.uuid().bytes.data(), sizeof high);
        std::memcpy(&low, id.uuid().bytes.data() + sizeof high, sizeof low);
        return static_cast<std::size_t>(high ^ (low * 0x9e3779b97f4a7c15ULL));
    }
};
