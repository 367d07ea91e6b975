// A shell for the kit's tests: it says on its standard output what each handler received.
import { item, Shell, submenu } from "../../src/index.ts";

const shell = new Shell();
shell
  .onPick((pick) => console.log(`picked ${pick.menu} (${pick.title})${pick.branch === undefined ? "" : ` in ${pick.branch}`}`))
  .onURL((link) => {
    console.log(`url ${link.url} from ${link.source ?? "a link"}`);
    shell.replyToURL(link.url, "ok");
  })
  .onHotKeys((statuses) => console.log(`hot keys ${statuses.hotkeys.map((k) => `${k.key}=${k.status}`).join(",")}`))
  .onApps((apps) => console.log(`apps ${apps.apps.length} windows ${apps.windows.length}`))
  .onReopen(() => console.log("reopened"));

shell.drawMenu([item("hello", "Say hello"), submenu("more", "More", [item("deep", "Deep row")])]);
shell.publishHotKeys([{ key: "⌘⇧K", url: "kittest://key", code: 40, modifiers: 768 }]);
shell.watchApps();
console.log(`running as ${shell.host?.prefix ?? "nobody"}`);
await shell.start();
