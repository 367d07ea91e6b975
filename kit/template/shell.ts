// This app's logic. The host draws the menu this shell sends, hands it the rows the user picks
// and the URLs of its scheme, and prints whatever else it writes on standard output.
// The messages are described in docs/shell-protocol.md; the kit types every one of them.
import { header, item, label, separator, Shell, showInDock, submenu } from "../src/index.ts";

const shell = new Shell();
const name = (shell.host?.bundlePath ?? "App.app").split("/").pop()?.replace(/\.app$/, "") ?? "App";
let lastPick = "nothing yet";
let opened = 0;

function drawTheMenu(): void {
  shell.drawMenu([
    header({ title: name, symbol: "star", tooltip: `${name}, a menu-bar app` }),
    label("status", `Last pick: ${lastPick}`),
    label("opened", `Menu opened ${opened} times`),
    separator(),
    item("hello", "Say hello", { key: "⌘H", symbol: "hand.wave" }),
    submenu("more", "More", [item("time", "What time is it?"), showInDock()]),
    separator(),
    item("quit", `Quit ${name}`, { key: "⌘Q" }),
  ]);
}

shell.onPick((pick) => {
  lastPick = pick.title;
  if (pick.menu === "hello") console.log(`Hello from ${name}!`);
  if (pick.menu === "time") console.log(`It is ${new Date().toLocaleTimeString("en-GB")}.`);
  if (pick.menu === "quit") process.exit(0);
  drawTheMenu();
});

shell.onMenuOpened(() => {
  opened += 1;
  drawTheMenu();
});

shell.onURL((link) => {
  console.log(`${name} was handed ${link.url}`);
  shell.replyToURL(link.url, "opened");
});

shell.onReopen(() => console.log(`${name} was opened again`));
shell.announceReplies();
drawTheMenu();
console.log(`${name} is running`);
await shell.start();
