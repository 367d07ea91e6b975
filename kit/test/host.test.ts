// The kit against the real host: a kit shell's menu is drawn, and picks, URLs, hot-key
// statuses, the apps snapshot and reopen requests reach its typed handlers.
import { afterEach, expect, test } from "bun:test";
import { join } from "node:path";
import { askTheHost, RunningHost, TestBundle } from "./host.ts";

let bundle: TestBundle | undefined;
let host: RunningHost | undefined;

afterEach(async () => {
  if (host && process.env.KIT_TEST_VERBOSE) console.log(host.out, host.err);
  await host?.stop();
  bundle?.remove();
  host = bundle = undefined;
});

test("picks and URLs from the control socket reach the handlers, and the host answers the shell's requests", async () => {
  bundle = new TestBundle("echo-shell.ts", { menu: "child", hotkeys: "child" });
  host = new RunningHost(bundle, { MENU_BAR_HOSTED: "1" });
  expect(await host.printed("running as KIT_TEST_")).toBe(true);
  const socket = join(bundle.dataFolder, "menu.sock");

  expect(await askTheHost(socket, { invoke: "hello", title: "Say hello" })).toEqual({ invoked: "hello", title: "Say hello" });
  expect(await host.printed("picked hello (Say hello)\n")).toBe(true);
  // A row in a submenu is still the shell's to pick, by its id.
  expect(await askTheHost(socket, { invoke: "deep", title: "Deep row" })).toEqual({ invoked: "deep", title: "Deep row" });
  expect(await host.printed("picked deep (Deep row)\n")).toBe(true);

  const delivered = await askTheHost(socket, { url: "kittest://open/this" });
  expect(delivered).toMatchObject({ delivered: "kittest://open/this" });
  expect(await host.printed("url kittest://open/this from a link\n")).toBe(true);

  expect(await host.printed("hot keys ⌘⇧K=0\n")).toBe(true);
  // Headless, the host itself is the one running application.
  expect(await host.printed("apps 1 windows 0\n")).toBe(true);
  // The host took the messages: none of them reached its output.
  expect(host.out).not.toContain('"menu"');
  expect(host.out).not.toContain('"result"');
}, 60_000);

test("a reopen request reaches the handler once the kit has announced it", async () => {
  bundle = new TestBundle("echo-shell.ts", {});
  host = new RunningHost(bundle);
  expect(await host.printed("running as KIT_TEST_")).toBe(true);
  host.process.kill("SIGUSR1");
  expect(await host.printed("reopened\n")).toBe(true);
}, 60_000);
