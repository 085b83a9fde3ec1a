#include "gui/StoredTextValidator.h"

#include "core/TextCodec.h"
#include "settings/SettingsDefaults.h"

namespace {

// The first character CP932 cannot hold; empty when there is none.
QString firstUnstorable(const QString& text)
{
    if (TextCodec::toCp932(text))
        return {};
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype length =
            text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2
                                                                                             : 1;
        const QString character = text.sliced(i, length);
        if (!TextCodec::toCp932(character))
            return character;
        i += length - 1;
    }
    return {};
}

} // namespace

QValidator::State StoredTextValidator::validate(QString& input, int&) const
{
    if (input.size() > SettingsDefaults::MaxStoredTextLength) {
        emit refused(tr("設定ファイルに保存できるのは %n 文字までです", nullptr,
                        SettingsDefaults::MaxStoredTextLength));
        return Invalid;
    }
    if (const QString character = firstUnstorable(input); !character.isEmpty()) {
        emit refused(tr("「%1」は設定ファイル (Shift-JIS) に保存できません").arg(character));
        return Invalid;
    }
    return Acceptable;
}
