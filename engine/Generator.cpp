#include "engine/Generator.h"

#include "engine/Module1.h"

namespace tolvane::engine {

namespace {

constexpr const char* kWarningTitle = "Avertissement";

Refusal refuse(Refusal::Reason reason, std::string message, std::string title = kWarningTitle) {
    return Refusal{reason, std::move(message), std::move(title)};
}

std::string plural(std::int64_t n, const char* singular, const char* pluralForm) {
    return std::to_string(n) + " " + (n > 1 ? pluralForm : singular);
}

} // namespace

std::optional<Refusal> readShape(const GenerationSettings& settings, BatchShape& shape) {
    using R = Refusal::Reason;
    const WholeNumber length = readWholeNumber(settings.lengthText);
    if (!length.ok()) {
        return refuse(R::LengthNotANumber,
                      "La longueur souhaitée doit être un nombre entier, par exemple 8.");
    }
    if (length.value < 1 || length.value > kMaxLength) {
        return refuse(R::LengthOutOfRange, "La longueur souhaitée doit être comprise entre 1 et " +
                                               std::to_string(kMaxLength) + " caractères.");
    }
    const WholeNumber segments = readWholeNumber(settings.segmentsText);
    if (!segments.ok()) {
        return refuse(R::SegmentsNotANumber,
                      "Le nombre de segments doit être un nombre entier, par exemple 1.");
    }
    if (segments.value < 1 || segments.value > length.value) {
        return refuse(R::SegmentsOutOfRange,
                      "Le nombre de segments doit être compris entre 1 et la longueur souhaitée (" +
                          std::to_string(length.value) + ").");
    }
    const WholeNumber count = readWholeNumber(settings.countText);
    if (!count.ok()) {
        return refuse(
            R::CountNotANumber,
            "Le nombre de séquences à générer doit être un nombre entier, par exemple 1.");
    }
    if (count.value < 0 || count.value > kMaxCount) {
        return refuse(R::CountOutOfRange,
                      "Le nombre de séquences à générer doit être compris entre 0 et " +
                          std::to_string(kMaxCount) + ".");
    }
    shape = BatchShape{length.value, segments.value, count.value};
    return std::nullopt;
}

std::optional<Refusal> refusalOf(const GenerationSettings& settings) {
    using R = Refusal::Reason;
    BatchShape shape;
    if (auto refusal = readShape(settings, shape)) {
        return refusal;
    }
    if (settings.associate && shape.count != settings.userCount) {
        return refuse(
            R::UserCountMismatch,
            "Le nombre d'utilisateurs ne correspond pas au nombre de mots de passe à générer !",
            "Averitssemen(");
    }
    if (BuildAlphabet(settings.classes).empty()) {
        return refuse(R::EmptyAlphabet,
                      "Aucun type de caractère n'est sélectionné : cochez au moins une "
                      "case sous « Personalisé ».");
    }
    if (settings.associate && static_cast<std::int64_t>(settings.userNames.size()) < shape.count) {
        return refuse(
            R::MissingUserNames,
            "Il manque des noms d'utilisateurs : " +
                plural(static_cast<std::int64_t>(settings.userNames.size()), "nom", "noms") +
                " pour " + plural(shape.count, "mot de passe", "mots de passe") +
                ". Ajoutez les noms à nouveau.");
    }
    return std::nullopt;
}

Batch generateBatch(const GenerationSettings& settings, platform::RandomSource& random) {
    Batch batch;
    if ((batch.refusal = refusalOf(settings))) {
        return batch;
    }
    BatchShape shape;
    readShape(settings, shape);
    const std::u32string alphabet = BuildAlphabet(settings.classes);
    const auto alphabetSize = static_cast<std::uint32_t>(alphabet.size());
    const std::int64_t groupLength = shape.groupLength();
    batch.lines.reserve(static_cast<std::size_t>(shape.count));
    for (std::int64_t i = 0; i < shape.count; ++i) {
        std::u32string line;
        line.reserve(static_cast<std::size_t>(shape.length + shape.segments));
        for (std::int64_t s = 1; s <= shape.segments; ++s) {
            for (std::int64_t c = 1; c <= groupLength; ++c) {
                line += alphabet[platform::uniformBelow(random, alphabetSize)];
            }
            if (s != shape.segments) {
                line += kSegmentSeparator;
            }
        }
        if (settings.associate) {
            line = settings.userNames[static_cast<std::size_t>(i)] + U'\t' + line;
            if (settings.irreversible) {
                const std::string code = CryptageIrreversible(settings.puk, line, 2);
                line += U'\t';
                line.append(code.begin(), code.end());
            }
        }
        batch.lines.push_back(std::move(line));
    }
    return batch;
}

} // namespace tolvane::engine
