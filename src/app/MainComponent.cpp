#include "app/MainComponent.h"

#include "app/HintFinder.h"
#include "check/NetworkCheck.h"
#include "net/MixerLink.h"
#include "appearance/AlineButton.h"
#include "appearance/BtnLookAndFeel.h"
#include "appearance/FlatProgressBar.h"
#include "appearance/LangLookAndFeel.h"
#include "appearance/ScreenLookAndFeel.h"
#include "appearance/Typefaces.h"
#include "resources/ImageLoader.h"
#include "resources/NoticeTexts.h"
#include "resources/OutcomeMessages.h"
#include "resources/TxtLoader.h"

namespace
{
constexpr int progressRefreshMs = 50;
constexpr int hintRefreshMs = 250;
constexpr int buttonRowY = 168;

void showAlertWindow (const juce::String& message, const juce::String& buttonText, std::function<void()> dismissed)
{
    juce::AlertWindow::showMessageBoxAsync (juce::MessageBoxIconType::NoIcon,
                                            TxtLoader::getInstance()->getString (0),
                                            message, buttonText, nullptr,
                                            juce::ModalCallbackFunction::create ([dismissed] (int) { dismissed(); }));
}

std::unique_ptr<AlineButton> makeButton (const juce::String& name, BtnLookAndFeel& lookAndFeel)
{
    auto button = std::make_unique<AlineButton> (name);
    button->setFontStyle (juce::Font::bold);
    button->setColour (juce::TextButton::buttonColourId, juce::Colour (MainComponent::panelColour));
    button->setColour (juce::TextButton::buttonOnColourId, juce::Colour (MainComponent::panelColour));
    button->setConnectedEdges (juce::Button::ConnectedOnLeft | juce::Button::ConnectedOnRight
                               | juce::Button::ConnectedOnTop | juce::Button::ConnectedOnBottom);
    button->setLookAndFeel (&lookAndFeel);
    return button;
}
} // namespace

MainComponent::MainComponent() : MainComponent (Services {}) {}

MainComponent::MainComponent (Services s)
    : juce::Thread ("QVR7000_UPDATE"),
      services (std::move (s))
{
    if (services.steps == nullptr)
        services.steps = std::make_unique<MixerLink>();

    if (! services.showMessageBox)
        services.showMessageBox = showAlertWindow;

    if (! services.quit)
        services.quit = [] { juce::JUCEApplicationBase::quit(); };

    if (! services.announce)
        services.announce = [] (const juce::String& text)
        {
            juce::AccessibilityHandler::postAnnouncement (text, juce::AccessibilityHandler::AnnouncementPriority::medium);
        };

    if (! services.checkNetwork)
        services.checkNetwork = [] (bool portOnly, const std::function<bool()>& shouldStop)
        {
            return NetworkCheck (MixerLinkSettings {}, false, shouldStop)
                .run (portOnly ? NetworkCheck::Scope::port : NetworkCheck::Scope::whileListening);
        };

    hints = std::make_unique<HintFinder> ([check = services.checkNetwork] (const std::function<bool()>& shouldStop)
                                          { return check (false, shouldStop); },
                                          MixerLinkSettings {}.listenerPort);

    // The screen holds the focus itself where no first button can (its Escape
    // still cancels), and Tab goes round its controls only.
    setWantsKeyboardFocus (true);
    setFocusContainerType (juce::Component::FocusContainerType::keyboardFocusContainer);

    auto* txt = TxtLoader::getInstance();
    ImageLoader::getInstance();

    // Every font in the process is looked up through the default look-and-feel.
    screenLookAndFeel = std::make_unique<ScreenLookAndFeel>();
    juce::LookAndFeel::setDefaultLookAndFeel (screenLookAndFeel.get());

    langLookAndFeel = std::make_unique<LangLookAndFeel>();
    btnLookAndFeel = std::make_unique<BtnLookAndFeel>();

    langs = std::make_unique<juce::ComboBox> ("langs");
    addAndMakeVisible (*langs);
    langs->setLookAndFeel (langLookAndFeel.get());
    langs->addListener (this);
    // Reachable by Tab, so that the language can be chosen without a mouse.
    langs->setWantsKeyboardFocus (true);

    for (int language = 0; language < TxtLoader::numLanguages; ++language)
        if (txt->isLanguageAvailable (language))
            langs->addItem (txt->getLanguageName (language), language + 1);

    messageLabel = std::make_unique<juce::Label> ("Message Label", juce::String());
    addAndMakeVisible (*messageLabel);
    messageLabel->setFont (juce::Font (13.0f, juce::Font::plain));
    messageLabel->setJustificationType (juce::Justification::topLeft);
    messageLabel->setEditable (false, false, false);
    messageLabel->setColour (juce::TextEditor::textColourId, juce::Colours::black);
    messageLabel->setColour (juce::TextEditor::backgroundColourId, juce::Colour (0x00000000));

    // Under the waiting message, when no mixer comes: two lines at most, in the
    // message's font, squeezed a little rather than cut off.
    hintLabel = std::make_unique<juce::Label> ("Hint Label", juce::String());
    addChildComponent (*hintLabel);
    hintLabel->setJustificationType (juce::Justification::topLeft);
    hintLabel->setEditable (false, false, false);

    button1 = makeButton ("button1", *btnLookAndFeel);
    addAndMakeVisible (*button1);
    button1->addListener (this);

    button2 = makeButton ("button2", *btnLookAndFeel);
    addAndMakeVisible (*button2);
    button2->addListener (this);

    // Shown while sending: the one phase that can take minutes.
    progressBar = std::make_unique<FlatProgressBar>();
    progressBar->setColour (juce::ProgressBar::backgroundColourId, juce::Colour (panelColour));
    progressBar->setLookAndFeel (btnLookAndFeel.get());
    addChildComponent (*progressBar);

    setSize (450, 200);
}

MainComponent::~MainComponent()
{
    phase = closed;
    stopThread (-1);
    stopTimer();
    cancelPendingUpdate();
    hints.reset();

    // Each look-and-feel goes after the controls that use it.
    langs.reset();
    langLookAndFeel.reset();
    messageLabel.reset();
    hintLabel.reset();
    button1.reset();
    button2.reset();
    progressBar.reset();
    btnLookAndFeel.reset();

    juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
    screenLookAndFeel.reset();

    TxtLoader::deleteInstance();
    ImageLoader::deleteInstance();

    // Last: the environment and the mixer connection, which stays open until here.
    services.steps.reset();
}

//==============================================================================
void MainComponent::advancePhase()
{
    const int old = phase;

    // The quit is already on its way; a late click must not ask again.
    if (old >= closed)
        return;

    phase = old + 1;

    stopThread (-1);

    if (isWorkerPhase (old))
        reportPhaseResult (old);

    if (phase < closed)
    {
        refreshTexts();

        if (messageLabel->getText().isNotEmpty())
            services.announce (messageLabel->getText());

        if (isWorkerPhase (phase))
            startThread();
    }
    else
    {
        requestQuit();
    }
}

void MainComponent::abortWorkflow()
{
    const int old = phase;

    if (old < chooseLanguage || old > finished)
        return;

    phase = closed;
    followPhase();
    stopThread (-1);

    if (isWorkerPhase (old))
        reportPhaseResult (old);

    requestQuit();
}

void MainComponent::reportPhaseResult (int phaseLeft)
{
    const int messageId = outcomes::messageIdFor (phaseLeft, result);

    if (messageId == 0)
        return;

    auto* txt = TxtLoader::getInstance();
    messageBoxOpen = true;

    // Who holds the port says more than the code, which still ends the text.
    const auto portText = phaseLeft == connecting && portHint.has_value() ? portHint->text (txt->getLanguage()) + "\n\n" : juce::String();

    juce::Component::SafePointer<MainComponent> self (this);
    services.showMessageBox (portText + txt->getString (messageId), txt->getString (2), [self]
    {
        if (self != nullptr)
        {
            self->messageBoxOpen = false;
            self->requestQuit();
        }
    });
}

void MainComponent::requestQuit()
{
    // Every box ends the program, but only once the user has read it; a late
    // step outcome arriving meanwhile must not close it early.
    if (! messageBoxOpen)
        services.quit();
}

void MainComponent::run()
{
    result = 0;
    int outcome = 0;

    switch (phase.load())
    {
        case initialising: outcome = services.steps->runInitialiseStep (*this); break;
        case connecting:
            outcome = services.steps->runConnectStep (*this);

            if (outcome == ::Listener::cannotListen && ! threadShouldExit())
            {
                const auto hint = NetworkHint::from (services.checkNetwork (true, [this] { return threadShouldExit(); }),
                                                     MixerLinkSettings {}.listenerPort);
                portHint = hint.kind == CheckFinding::Kind::portHeld ? std::optional<NetworkHint> (hint) : std::nullopt;
            }
            break;
        case sending:      outcome = services.steps->runSendStep (*this); break;
        default:           break;
    }

    // A stop request wins over whatever the step found.
    if (threadShouldExit())
        outcome = -1;

    result = outcome;
    triggerAsyncUpdate();
}

void MainComponent::handleAsyncUpdate()
{
    const int outcome = result;

    if (outcome == -1)
        return;

    if (outcome == 0)
        advancePhase();
    else
        abortWorkflow();
}

//==============================================================================
void MainComponent::refreshTexts()
{
    const int current = phase;

    if (current < chooseLanguage || current > finished)
        return;

    auto* txt = TxtLoader::getInstance();
    const auto fontName = txt->getCurrentFontName();
    setDefaultSansSerifName (fontName);

    const auto& screen = phaseScreens[current];

    if (auto* parent = getParentComponent())
        parent->setName (txt->getString (screen.titleId));

    if (current == chooseLanguage)
    {
        langs->setVisible (true);
        langs->setSelectedId (txt->getLanguage() + 1, juce::sendNotification);
        langs->resized();
    }
    else
    {
        langs->setVisible (false);
    }

    messageLabel->setFont (juce::Font (13.0f, juce::Font::plain));
    messageLabel->setText (txt->getString (screen.messageId), juce::sendNotification);
    setDescription (messageLabel->getText());

    // A disabled button gives up the focus (to this screen); one that does not
    // want it is not handed it back when the window regains the focus.
    button1->setFontName (fontName);
    button1->setTextAndRepaint (txt->getString (screen.firstButtonId));
    button1->setEnabled (screen.firstEnabled);
    button1->setWantsKeyboardFocus (screen.firstEnabled);

    button2->setFontName (fontName);
    button2->setTextAndRepaint (txt->getString (screen.secondButtonId));
    button2->setEnabled (screen.secondEnabled);
    button2->setWantsKeyboardFocus (screen.secondEnabled);

    progressBar->setVisible (current == sending || current == finished);
    showSendProgress();
    followPhase();
    focusFirstButton();
}

void MainComponent::followPhase()
{
    // While waiting, the first look at the network comes once the mixer is
    // late; nothing of it stays once the wait is over.
    if (phase == connecting && ! hintLabel->isVisible())
    {
        nextLookMs = juce::Time::getMillisecondCounterHiRes() + services.hintAfterMs;
        hintLabel->setFont (messageLabel->getFont());
        hintLabel->setVisible (true);
    }
    else if (phase != connecting && hintLabel->isVisible())
    {
        hints->cancel();
        hintLabel->setVisible (false);
        hintLabel->setText ({}, juce::dontSendNotification);
        shownHint.reset();
    }

    // The link's count moves only while sending; afterwards the bar keeps its
    // last figures with nothing polling.
    if (phase == sending)
        startTimer (progressRefreshMs);
    else if (phase == connecting)
        startTimer (hintRefreshMs);
    else
        stopTimer();
}

void MainComponent::timerCallback()
{
    if (phase == connecting)
        followHints();
    else
        showSendProgress();
}

void MainComponent::followHints()
{
    if (auto hint = hints->takeHint(); hint.has_value() && hint != shownHint)
        showHint (*hint);

    if (const auto now = juce::Time::getMillisecondCounterHiRes(); now >= nextLookMs && ! hints->isLooking())
    {
        hints->look();
        nextLookMs = now + services.hintEveryMs;
    }
}

void MainComponent::showHint (const NetworkHint& hint)
{
    // Changed only when the finding changes, so that a screen reader hears it once.
    shownHint = hint;
    // Two lines at full width where they do, the command on a line of its own;
    // squeezed a little only where they would be cut short.
    const auto area = hintLabel->getBorderSize().subtractedFrom (hintLabel->getLocalBounds()).toFloat();
    const auto laysOutWhole = [&] (const juce::String& t)
    {
        juce::GlyphArrangement laidOut;
        laidOut.addFittedText (hintLabel->getFont(), t, 0.0f, 0.0f, area.getWidth(), area.getHeight(), juce::Justification::topLeft, 2, 1.0f);
        juce::String laidOutText;

        for (auto& glyph : laidOut)
            laidOutText << juce::String::charToString (glyph.getCharacter());

        return laidOutText.removeCharacters (" \n") == t.removeCharacters (" \n")
            && laidOut.getBoundingBox (0, -1, true).getBottom() <= area.getHeight();
    };

    auto text = hint.text (TxtLoader::getInstance()->getLanguage());

    if (! laysOutWhole (text))
        text = text.replace ("\n", " ");

    hintLabel->setMinimumHorizontalScale (laysOutWhole (text) ? 1.0f : 0.7f);
    hintLabel->setText (text, juce::dontSendNotification);
    setDescription (messageLabel->getText() + "\n" + text);
    services.announce (text);
}

void MainComponent::showSendProgress()
{
    // A time left would only grow while the mixer takes nothing: say how long it has waited instead.
    const auto progress = services.steps->getSendProgress();
    const auto text = progress.isStalled()
                        ? progress.describeAmount() + "  "
                              + getNoticeText (NoticeText::mixerTakesNothing, TxtLoader::getInstance()->getLanguage())
                                    .replace ("{seconds}", juce::String ((int) progress.secondsWithoutTaking))
                        : progress.describe();
    progressBar->setProgress (progress.fraction(), text);
}

void MainComponent::focusFirstButton()
{
    // Also called while the controls are deleted (the focus falls back to us).
    if (phase < chooseLanguage || phase > finished)
        return;

    // Only while our window has the keyboard: a phase that ends while the user
    // types in another program must not take the keys (and a Return) from it.
    auto* peer = getPeer();

    if (button1->isEnabled() && isShowing() && peer != nullptr && (hasKeyboardFocus (true) || peer->isFocused()))
        button1->grabKeyboardFocus();
}

void MainComponent::focusGained (juce::Component::FocusChangeType)
{
    focusFirstButton();
}

bool MainComponent::keyPressed (const juce::KeyPress& key)
{
    if (key == juce::KeyPress::escapeKey)
    {
        if (button2->isEnabled())
            button2->triggerClick();

        return true;
    }

    // Resting on the screen itself (no first button to hold it), Tab leads into the controls.
    if (key.isKeyCode (juce::KeyPress::tabKey) && hasKeyboardFocus (false))
        if (auto traverser = createKeyboardFocusTraverser())
            if (auto* control = traverser->getDefaultComponent (this))
            {
                control->grabKeyboardFocus();
                return true;
            }

    return false;
}

void MainComponent::comboBoxChanged (juce::ComboBox* box)
{
    if (box != langs.get())
        return;

    auto* txt = TxtLoader::getInstance();
    const int language = langs->getSelectedId() - 1;

    if (language >= 0 && language != txt->getLanguage())
    {
        txt->setLanguage (language);
        refreshTexts();
    }
}

void MainComponent::buttonClicked (juce::Button* button)
{
    if (button == button1.get())
        advancePhase();
    else if (button == button2.get())
        abortWorkflow();
}

//==============================================================================
void MainComponent::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (panelColour));

    if (auto* image = ImageLoader::getInstance()->getImage (0))
        g.drawImage (*image, 20, 15, image->getWidth(), image->getHeight(),
                     0, 0, image->getWidth(), image->getHeight(), false);
}

void MainComponent::resized()
{
    messageLabel->setBounds (80, 20, 360, 110);
    // Below the one-line waiting message, two lines of the message's font.
    hintLabel->setBounds (80, 56, 360, 36);
    langs->setBounds (250, 140, 190, 24);
    // The buttons' row is raised to end inside the 200-pixel panel; lower, the
    // bottom third of each button and its caption would be cut off.
    button1->setBounds (190, buttonRowY, 120, 24);
    button2->setBounds (320, buttonRowY, 120, 24);
    progressBar->setBounds (250, 140, 190, 24);
}
