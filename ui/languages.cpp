#include "ui/languages.h"

namespace Languages {
namespace {

// UTF-8 text, quoted exactly as the window shows it: some entries keep a trailing space and
// some languages borrow another language's words.
const char *const kTexts[Languages::Count][Languages::TextCount] = {
    {
        // 0 German
        "Zuvu Direvod Einstellungen ",
        "Modus",
        "Vorschaueffekt",
        "Standard ",
        "Spot",
        "Digital Pointer",
        "Lupe",
        "Hintergrundfarbe",
        "Transparenz",
        "Vordergrundfarbe",
        "Transparenz",
        "Spot Größe",
        "Vergrößerung",
        "Timer ",
        "min",
        "Mauszeiger DPI",
        "Aktivieren ",
    },
    {
        // 1 English
        "Presenter setting",
        "Modus",
        "Preview effect",
        "Normal",
        "Spot",
        "Digital Pointer",
        "Magnifier",
        "Background color",
        "Transparent",
        "Foreground color",
        "Transparent",
        "Spot size",
        "Magnification",
        "Timing set",
        "min",
        "Mouse speed",
        "Set",
    },
    {
        // 2 French
        "Réglage pointeur",
        "Mode",
        "Effet d'aperçu",
        "Normal",
        "Projecteur",
        "Pointeur",
        "Loupe",
        "arrière plan",
        "Transparent",
        "premier plan",
        "Transparent",
        "Taille projecteur",
        "Grossissement",
        "minuteur",
        "min",
        "le curseur DPI",
        "Activer",
    },
    {
        // 3 Spanish
        "Ajustes",
        "Modo",
        "Previsualizacion",
        "Normal",
        "Foco de atencion",
        "Puntero Digital",
        "Lupa",
        "Fondo",
        "Transparente",
        "Primer plano",
        "Transparente",
        "Tamaño del punto",
        "Ampliacion",
        "Temporizador",
        "min",
        "DPI puntero",
        "Activer",
    },
    {
        // 4 Portuguese
        "Definições Apontador",
        "Modo",
        "Pré-Visualização",
        "Normal",
        "Holofote",
        "Ponteiro digital",
        "Lupa",
        "Cor de Fundo",
        "Transparência",
        "Cor 1º Plano",
        "Transparência",
        "Tamanho Holofote",
        "Aumento",
        "Temporizador",
        "min",
        "Velocidade Cursor",
        "Ok",
    },
    {
        // 5 Polish
        "Ustawienia prezentera",
        "Tryb",
        "Podgląd efektu",
        "Normalny",
        "Spot",
        "Cyfrowy wskaźnik",
        "Tryb lupy",
        "Kolor Tła",
        "Przezroczystość",
        "pierwsoplanowy",
        "Przezroczystość",
        "reflektor rozmiar",
        "Powiększenie",
        "Timer",
        "min",
        "Czułość myszy",
        "Ustaw",
    },
    {
        // 6 Dutch
        "Presenter instellingen",
        "Mode",
        "Preview effectt",
        "Normaal",
        "Spot",
        "Digitale Pointer",
        "Vergroten",
        "Achtergrond kleur",
        "Transparant",
        "Voorgrond kleur",
        "Transparant",
        "Grote spot",
        "Vergroting",
        "Timer intellen",
        "min",
        "Muis snelheid",
        "Aktiveren",
    },
    {
        // 7 Romanian
        "Presenter setting",
        "Mod",
        "previzualizare",
        "Normal",
        "Reflector",
        "Indicator digital",
        "Lupa",
        "Culoare fundal",
        "Transparent",
        "prim-plan",
        "Transparent",
        "Dimensiune spot",
        "Marire",
        "Timp setat",
        "min",
        "Viteza mouse",
        "Activati",
    },
    {
        // 8 Italian
        "Impostazioni",
        "Modalità",
        "Anteprima",
        "Normale",
        "Spot",
        "Digital Pointer",
        "Lente",
        "Colore sfondo",
        "Trasparenza",
        "Colore 1° piano",
        "Trasparenza",
        "Dimensione punto",
        "Ingrandimento",
        "Timer",
        "min",
        "Velocità mouse",
        "Regolazione",
    },
    {
        // 9 Czech
        "Nastavení",
        "Režim",
        "Náhled",
        "Normální",
        "Bodové světlo",
        "Ukazovátko",
        "Lupa",
        "Barva pozadí",
        "Průhlednost",
        "Barva popředí",
        "Průhlednost",
        "Velikost bodu",
        "Zvětšení",
        "Časovač",
        "min",
        "Citlivost myši",
        "Nastavit",
    },
    {
        // 10 Slovak
        "Nastavenia",
        "Režim",
        "Náhľad",
        "Bežný",
        "Bodové svetlo",
        "Ukazovadlo",
        "Lupa",
        "Farba pozadia",
        "Priehľadnosť",
        "Farba popredia",
        "Priehľadnosť",
        "Veľkosť bodu",
        "Zväčšenie",
        "Časovač",
        "min",
        "Rýchlosť myši",
        "Nastaviť",
    },
    {
        // 11 Hungarian
        "Presenter setting",
        "Mód",
        "Előnézet ",
        "Normál",
        "Reflektorfény",
        "Digitális mutató",
        "Nagyító",
        "Háttér színe",
        "Áttetszőség",
        "Előtér színe",
        "Áttetszőség",
        "Mutató mérete",
        "Nagyítás",
        "Időzítés_perc",
        "min",
        "Egér sebesség",
        "Beállít",
    },
};

const char *const kInsertTexts[Languages::Count] = {
    "Schließen Sie den Empfänger an den USB-Anschluss des Computers an, und schalten Sie den "
    "Präsenter vor der Verwendung ein.",
    "Please insert the dongle",
    "Connectez le récepteur USB",
    "Por favor, enchufe el receptor en un puerto USB del ordenador y encienda el presentador antes "
    "de su uso",
    "Por favor ligue o recetor a uma ficha USB do computador, e ligue o apontador antes de usar",
    "Włóż odbiornik do gniazda USB komputera",
    "Steek Dongle in",
    "Introduceti receptorul USB",
    "Inserire ricevitore",
    "Před použitím připojte přijímač do USB zásuvky počítače a zapněte prezentér.",
    "Pred použitím pripojte prijímač do USB zásuvky počítača a zapnite prezentér.",
    "Csatlakoztassa az USB dongle-t a számítógép USB portjához és kapcsolja be a prezentert a "
    "használat előtt.",
};

const char *const kCloseButtonNames[Languages::Count] = {
    "Schließen", "Close",   "Fermer", "Cerrar", "Fechar",  "Zamknij",
    "Sluiten",   "Închide", "Chiudi", "Zavřít", "Zavrieť", "Bezárás",
};

// ISO 639-1 code of each language, in index order.
const char *const kCodes[Languages::Count] = {"de", "en", "fr", "es", "pt", "pl",
                                              "nl", "ro", "it", "cs", "sk", "hu"};

} // namespace

QStringList texts(int index)
{
    QStringList list;
    if (!isValid(index))
        return list;
    list.reserve(TextCount);
    for (const char *text : kTexts[index])
        list << QString::fromUtf8(text);
    return list;
}

QString insertText(int index)
{
    return isValid(index) ? QString::fromUtf8(kInsertTexts[index]) : QString();
}

QString closeButtonName(int index)
{
    return isValid(index) ? QString::fromUtf8(kCloseButtonNames[index]) : QString();
}

int fromUiLanguages(const QStringList &uiLanguages)
{
    for (const QString &tag : uiLanguages) {
        // The primary language subtag: "fr" of "fr-CA", "pt" of "pt_BR".
        const QString primary =
            tag.section(QLatin1Char('-'), 0, 0).section(QLatin1Char('_'), 0, 0).toLower();
        for (int i = 0; i < Count; ++i)
            if (primary == QLatin1String(kCodes[i]))
                return i;
    }
    return German;
}

} // namespace Languages
