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

// The texts of ExtraText, one row per language in index order.
const char *const kExtraTexts[Languages::Count][Languages::ExtraTextCount] = {
    {
        // 0 German
        "Taste rastet ein",
        "Die Effekttaste zeigt den Effekt mit einem Druck und blendet ihn mit dem nächsten aus.",
        "Die Einstellungen können nicht in %1 gespeichert werden. Kavri versucht es weiter.",
        "Die Lupe kann den Bildschirm hier nicht zeigen: %1",
        "keine Möglichkeit, ihn aufzunehmen",
        "Kavri läuft ohne seine Sperre gegen eine zweite Instanz (%1): ein jetzt gestartetes "
        "zweites Kavri würde nicht aufgehalten.",
        "Ein anderes Programm belegt die Tastenkombination %1: sie wirkt nicht, solange es läuft.",
        "Tastenkürzel",
        "Effekt zeigen, solange gedrückt",
        "Effekt zeigen oder ausblenden",
        "Nächster Effekt",
        "Schwarzer Bildschirm",
        "Größer",
        "Kleiner",
        "Löschen",
        "Feld anklicken und die Tastenkombination drücken. Ein leeres Feld belegt keine Taste.",
    },
    {
        // 1 English
        "Effect key locks",
        "The effect key shows the effect at one press and hides it at the next.",
        "The settings cannot be saved to %1. Kavri keeps trying.",
        "The magnifier cannot show the screen here: %1",
        "no way to capture it",
        "Kavri runs without its single-instance lock (%1): a second Kavri started now would not "
        "be stopped.",
        "Another program holds the key combination %1: it does not work while that program runs.",
        "Shortcuts",
        "Show while held",
        "Show or hide",
        "Next effect",
        "Black screen",
        "Size up",
        "Size down",
        "Clear",
        "Click a field and press the key combination. An empty field takes no key.",
    },
    {
        // 2 French
        "Touche à bascule",
        "La touche d'effet affiche l'effet à un appui et le masque à l'appui suivant.",
        "Les réglages ne peuvent pas être enregistrés dans %1. Kavri continue d'essayer.",
        "La loupe ne peut pas afficher l'écran ici : %1",
        "aucun moyen de le capturer",
        "Kavri fonctionne sans son verrou d'instance unique (%1) : un second Kavri lancé "
        "maintenant ne serait pas arrêté.",
        "Un autre programme occupe la combinaison de touches %1 : elle ne fonctionne pas tant "
        "qu'il tourne.",
        "Raccourcis",
        "Afficher tant que maintenu",
        "Afficher ou masquer",
        "Effet suivant",
        "Écran noir",
        "Agrandir",
        "Réduire",
        "Effacer",
        "Cliquez sur un champ et appuyez sur la combinaison de touches. Un champ vide ne prend "
        "aucune touche.",
    },
    {
        // 3 Spanish
        "Tecla fija",
        "La tecla de efecto muestra el efecto con una pulsación y lo oculta con la siguiente.",
        "No se pueden guardar los ajustes en %1. Kavri sigue intentándolo.",
        "La lupa no puede mostrar la pantalla aquí: %1",
        "no hay forma de capturarla",
        "Kavri se ejecuta sin su bloqueo de instancia única (%1): un segundo Kavri iniciado ahora "
        "no se detendría.",
        "Otro programa ocupa la combinación de teclas %1: no funciona mientras ese programa se "
        "ejecute.",
        "Atajos de teclado",
        "Mostrar mientras se mantiene",
        "Mostrar u ocultar",
        "Efecto siguiente",
        "Pantalla negra",
        "Aumentar tamaño",
        "Reducir tamaño",
        "Borrar",
        "Haga clic en un campo y pulse la combinación de teclas. Un campo vacío no ocupa ninguna "
        "tecla.",
    },
    {
        // 4 Portuguese
        "Tecla fixa",
        "A tecla de efeito mostra o efeito com um toque e esconde-o com o seguinte.",
        "Não é possível guardar as definições em %1. O Kavri continua a tentar.",
        "A lupa não consegue mostrar o ecrã aqui: %1",
        "não há forma de o capturar",
        "O Kavri está a correr sem o seu bloqueio de instância única (%1): um segundo Kavri "
        "iniciado agora não seria impedido.",
        "Outro programa ocupa a combinação de teclas %1: ela não funciona enquanto esse programa "
        "estiver aberto.",
        "Atalhos",
        "Mostrar enquanto premida",
        "Mostrar ou esconder",
        "Efeito seguinte",
        "Ecrã preto",
        "Aumentar",
        "Diminuir",
        "Limpar",
        "Clique num campo e prima a combinação de teclas. Um campo vazio não ocupa nenhuma tecla.",
    },
    {
        // 5 Polish
        "Klawisz blokuje",
        "Klawisz efektu pokazuje efekt jednym naciśnięciem i ukrywa go następnym.",
        "Nie można zapisać ustawień w %1. Kavri ponawia próby.",
        "Lupa nie może tutaj pokazać ekranu: %1",
        "nie ma sposobu, by go przechwycić",
        "Kavri działa bez blokady pojedynczej instancji (%1): drugi Kavri uruchomiony teraz nie "
        "zostałby zatrzymany.",
        "Inny program zajmuje skrót klawiszowy %1: nie działa, dopóki ten program jest "
        "uruchomiony.",
        "Skróty klawiszowe",
        "Pokazuj, gdy przytrzymany",
        "Pokaż lub ukryj",
        "Następny efekt",
        "Czarny ekran",
        "Powiększ",
        "Pomniejsz",
        "Wyczyść",
        "Kliknij pole i naciśnij kombinację klawiszy. Puste pole nie zajmuje żadnego klawisza.",
    },
    {
        // 6 Dutch
        "Toets vergrendelt",
        "De effecttoets toont het effect bij één druk en verbergt het bij de volgende.",
        "De instellingen kunnen niet in %1 worden opgeslagen. Kavri blijft het proberen.",
        "Het vergrootglas kan het scherm hier niet tonen: %1",
        "geen manier om het vast te leggen",
        "Kavri draait zonder zijn vergrendeling tegen een tweede exemplaar (%1): een tweede Kavri "
        "die nu start, wordt niet tegengehouden.",
        "Een ander programma bezet de toetscombinatie %1: die werkt niet zolang dat programma "
        "draait.",
        "Sneltoetsen",
        "Tonen zolang ingedrukt",
        "Tonen of verbergen",
        "Volgend effect",
        "Zwart scherm",
        "Groter",
        "Kleiner",
        "Wissen",
        "Klik op een veld en druk de toetscombinatie in. Een leeg veld neemt geen toets.",
    },
    {
        // 7 Romanian
        "Tasta efect fixă",
        "Tasta de efect afișează efectul la o apăsare și îl ascunde la următoarea.",
        "Setările nu pot fi salvate în %1. Kavri continuă să încerce.",
        "Lupa nu poate afișa ecranul aici: %1",
        "nu există o cale de a-l captura",
        "Kavri rulează fără blocarea de instanță unică (%1): un al doilea Kavri pornit acum nu ar "
        "fi oprit.",
        "Alt program ocupă combinația de taste %1: nu funcționează cât timp acel program rulează.",
        "Comenzi rapide",
        "Afișare cât timp e apăsată",
        "Afișare sau ascundere",
        "Efectul următor",
        "Ecran negru",
        "Mărire",
        "Micșorare",
        "Ștergere",
        "Faceți clic pe un câmp și apăsați combinația de taste. Un câmp gol nu ocupă nicio tastă.",
    },
    {
        // 8 Italian
        "Tasto fisso",
        "Il tasto effetto mostra l'effetto con una pressione e lo nasconde con la successiva.",
        "Impossibile salvare le impostazioni in %1. Kavri continua a riprovare.",
        "La lente non può mostrare lo schermo qui: %1",
        "nessun modo per catturarlo",
        "Kavri è in esecuzione senza il blocco di istanza singola (%1): un secondo Kavri avviato "
        "ora non verrebbe fermato.",
        "Un altro programma occupa la combinazione di tasti %1: non funziona finché quel programma "
        "è aperto.",
        "Scorciatoie",
        "Mostra finché premuto",
        "Mostra o nascondi",
        "Effetto successivo",
        "Schermo nero",
        "Ingrandisci",
        "Riduci",
        "Cancella",
        "Fai clic su un campo e premi la combinazione di tasti. Un campo vuoto non occupa alcun "
        "tasto.",
    },
    {
        // 9 Czech
        "Tlačítko drží",
        "Tlačítko efektu jedním stiskem efekt zobrazí a dalším jej skryje.",
        "Nastavení nelze uložit do %1. Kavri to zkouší dál.",
        "Lupa zde nemůže zobrazit obrazovku: %1",
        "není jak ji zachytit",
        "Kavri běží bez zámku jediné instance (%1): druhý Kavri spuštěný nyní by nebyl zastaven.",
        "Klávesovou zkratku %1 drží jiný program: dokud běží, nefunguje.",
        "Klávesové zkratky",
        "Zobrazit, dokud je držena",
        "Zobrazit nebo skrýt",
        "Další efekt",
        "Černá obrazovka",
        "Zvětšit",
        "Zmenšit",
        "Vymazat",
        "Klikněte do pole a stiskněte kombinaci kláves. Prázdné pole nezabírá žádnou klávesu.",
    },
    {
        // 10 Slovak
        "Tlačidlo drží",
        "Tlačidlo efektu jedným stlačením efekt zobrazí a ďalším ho skryje.",
        "Nastavenia nemožno uložiť do %1. Kavri to skúša ďalej.",
        "Lupa tu nemôže zobraziť obrazovku: %1",
        "nie je ako ju zachytiť",
        "Kavri beží bez zámku jedinej inštancie (%1): druhý Kavri spustený teraz by nebol "
        "zastavený.",
        "Klávesovú skratku %1 drží iný program: kým beží, nefunguje.",
        "Klávesové skratky",
        "Zobraziť, kým je držaná",
        "Zobraziť alebo skryť",
        "Ďalší efekt",
        "Čierna obrazovka",
        "Zväčšiť",
        "Zmenšiť",
        "Vymazať",
        "Kliknite do poľa a stlačte kombináciu klávesov. Prázdne pole nezaberá žiadny kláves.",
    },
    {
        // 11 Hungarian
        "Gomb rögzít",
        "Az effektgomb egy nyomásra megjeleníti a hatást, a következőre elrejti.",
        "A beállítások nem menthetők ide: %1. A Kavri tovább próbálkozik.",
        "A nagyító itt nem tudja megjeleníteni a képernyőt: %1",
        "nincs mód a rögzítésére",
        "A Kavri az egypéldányos zár nélkül fut (%1): egy most indított második Kavri nem lenne "
        "megállítva.",
        "A(z) %1 billentyűkombinációt egy másik program foglalja: amíg fut, nem működik.",
        "Billentyűparancsok",
        "Megjelenítés, amíg nyomva van",
        "Megjelenítés vagy elrejtés",
        "Következő effektus",
        "Fekete képernyő",
        "Nagyítás",
        "Kicsinyítés",
        "Törlés",
        "Kattintson egy mezőbe, és nyomja le a billentyűkombinációt. Az üres mező nem foglal "
        "billentyűt.",
    },
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

QString extraText(ExtraText which, int index)
{
    if (!isValid(index) || which < 0 || which >= ExtraTextCount)
        return QString();
    return QString::fromUtf8(kExtraTexts[index][which]);
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
