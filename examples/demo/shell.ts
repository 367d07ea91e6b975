// The demo app's logic: a menu with a header, a row that changes each time the menu opens, a
// submenu, a submenu read from a file, the Dock row, a panel drawn by the views library, the
// update channels the host switches, answers to picks and replies to URLs. It is built on the
// kit: the host's messages arrive typed in the handlers below; anything else the shell prints
// reaches the host's own output unchanged.
import { fileSubmenu, type FileMenuRow, header, item, label, separator, Shell, showInDock, submenu } from "../../kit/src/index.ts";

const shell = new Shell();
let lastPick = "nothing yet";
let picks = 0;
let opens = 0;

// A menu file that another program could keep up to date; the host reads it each time its
// submenu opens.
const recentFile = `${process.env.HOME ?? "/tmp"}/demo-recent.json`;

function writeRecentFile(): void {
  const recent: FileMenuRow[] = [
    { id: "recent-1", title: "Report.pdf", checked: true },
    { id: "recent-2", title: "Notes.txt" },
    { separator: true },
    { id: "older", title: "Older", submenu: [{ id: "recent-3", title: "Plan.md" }] },
  ];
  Bun.write(recentFile, JSON.stringify({ rows: recent }));
}

function publish(): void {
  const now = new Date().toLocaleTimeString("en-GB");
  shell.drawMenu([
    header({ title: "Demo", symbol: "sparkles", badge: "circle.fill", pointSize: 16, tooltip: "Menu-bar host demo" }),
    label("clock", `Opened at ${now} (${opens} times)`),
    label("last-pick", `Last pick: ${lastPick}`),
    separator(),
    item("hello", "Say hello", { key: "⌘H", symbol: "paperplane" }),
    submenu("more", "More", [item("count", `Picks so far: ${picks}`), showInDock()]),
    fileSubmenu("recent", "Recent", recentFile, { selectionMark: " ✓" }),
    item("note", "Show a note", { symbol: "doc" }),
    submenu("channels", "Update channel", [item("channel.stable", "Stable"), item("channel.beta", "Beta")]),
    separator(),
    item("quit", "Quit Demo", { key: "⌘Q" }),
  ]);
}

// The views library draws the panel; its answer comes back through onAct.
function showTheNote(): void {
  const look = { title: "Hello from the demo", text: `You have picked ${picks} rows.`, act: "note: OK" };
  shell.panel({ name: "note", call: "open", look: JSON.stringify(look) });
}

shell.onPick((pick) => {
  const id = pick.branch === undefined ? pick.menu : `${pick.menu} in ${pick.branch}`;
  lastPick = pick.title || id;
  picks += 1;
  console.log(`picked ${id} (${pick.title})`);
  if (pick.menu === "quit") process.exit(0);
  if (pick.menu === "note") showTheNote();
  publish();
});

shell.onAct((act) => {
  console.log(`panel action: ${act.act}`);
  shell.panel({ name: "note", call: "close" });
});

shell.onURL((link) => {
  console.log(`opening ${link.url}${link.source === undefined ? "" : ` (${link.source})`}`);
  shell.replyToURL(link.url, "opened");
});

shell.onFront((front) => console.log(`front application: ${front.front}`));

shell.onMenuOpened(() => {
  opens += 1;
  publish();
});

for (const signal of ["SIGTERM", "SIGINT"] as const) {
  process.on(signal, () => {
    console.log(`demo shell ending (${signal})`);
    process.exit(0);
  });
}

console.log(`demo shell ${process.pid} started by host ${shell.host?.launcherPid ?? "unknown"}`);
// Reopen requests reach the shell once it has said it takes them (the kit sends the signal).
shell.onReopen(() => console.log("reopen requested"));
shell.announceReplies();
writeRecentFile();
publish();
await shell.start();
