// The kit's own parts: line cutting, the host's messages, the menu builders, the environment.
import { describe, expect, test } from "bun:test";
import {
  discoverPrefix, fileSubmenu, header, hostEnvironment, item, LineSplitter, lineOf, menuMessage, parseHostLine,
  readLines, separator, Shell, submenu,
} from "../src/index.ts";

const encode = (text: string) => new TextEncoder().encode(text);

describe("LineSplitter", () => {
  const cases: [string, (string | Uint8Array)[], string[], string | undefined][] = [
    ["a line in two pieces", ["{\"fro", "nt\":\"x\"}\n"], ['{"front":"x"}'], undefined],
    ["two lines in one piece", ["a\nb\n"], ["a", "b"], undefined],
    ["an empty line", ["\n"], [""], undefined],
    ["an unfinished last line", ["a\nb"], ["a"], "b"],
    ["a character split across chunks", [encode("é\n").slice(0, 1), encode("é\n").slice(1)], ["é"], undefined],
  ];
  for (const [name, chunks, lines, rest] of cases) {
    test(name, () => {
      const splitter = new LineSplitter();
      expect(chunks.flatMap((chunk) => splitter.push(chunk))).toEqual(lines);
      expect(splitter.finish()).toBe(rest);
    });
  }

  test("readLines hands over the last line without its line feed", async () => {
    async function* input() {
      yield encode("one\ntw");
      yield encode("o\nthree");
    }
    const lines: string[] = [];
    await readLines(input(), (line) => lines.push(line));
    expect(lines).toEqual(["one", "two", "three"]);
  });
});

describe("the host's messages", () => {
  const cases: [string, unknown][] = [
    ['{"front":"org.example.x"}', { kind: "front", message: { front: "org.example.x" } }],
    ['{"opened":true}', { kind: "opened", message: { opened: true } }],
    ['{"submenuOpened":"more"}', { kind: "submenuOpened", message: { submenuOpened: "more" } }],
    ['{"menu":"a","title":"A"}', { kind: "pick", message: { menu: "a", title: "A" } }],
    ['{"menu":"a","title":"A","branch":"recent"}', { kind: "pick", message: { menu: "a", title: "A", branch: "recent" } }],
    ['{"url":"x://y"}', { kind: "url", message: { url: "x://y" } }],
    ['{"url":"x://y","source":"hotkey"}', { kind: "url", message: { url: "x://y", source: "hotkey" } }],
    ['{"setupQuit":"settings"}', { kind: "setupQuit", message: { setupQuit: "settings" } }],
    ['{"hotkeys":[{"key":"⌘K","status":-1}]}', { kind: "hotkeys", message: { hotkeys: [{ key: "⌘K", status: -1 }] } }],
    ['{"apps":[{"bundle":"b","name":"n","path":"","pid":3,"policy":1,"active":true}],"windows":[[3,0]]}',
      { kind: "apps", message: { apps: [{ bundle: "b", name: "n", path: "", pid: 3, policy: 1, active: true }], windows: [[3, 0]] } }],
    ['{"act":"note: OK"}', { kind: "act", message: { act: "note: OK" } }],
    // Not messages: wrong types, missing keys, not objects.
    ['{"menu":"a"}', undefined],
    ['{"opened":1}', undefined],
    ['{"hotkeys":[{"key":"⌘K","status":"0"}]}', undefined],
    ['{"apps":[],"windows":[[1]]}', undefined],
    ["[1]", undefined],
    ["not json", undefined],
  ];
  for (const [line, expected] of cases) test(line, () => expect(parseHostLine(line)).toEqual(expected as never));

  test("a handler that throws does not stop the others", () => {
    const seen: string[] = [];
    const shell = new Shell({ env: {}, exitWhenTheHostLeaves: false, output: { write: () => true } });
    shell.onPick(() => { throw new Error("bug"); }).onPick((pick) => seen.push(pick.menu));
    shell.handleLine('{"menu":"a","title":"A"}');
    expect(seen).toEqual(["a"]);
  });
});

describe("menu builders", () => {
  test("a submenu's rows name it as their parent; nested submenus keep theirs", () => {
    const rows = menuMessage([
      header({ title: "T" }),
      submenu("outer", "Outer", [item("a", "A"), submenu("inner", "Inner", [item("b", "B")]), separator()]),
    ]).menu;
    expect(rows.map((row) => [row.id ?? row.kind, row.parent])).toEqual([
      ["header", undefined], ["outer", undefined], ["a", "outer"], ["inner", "outer"], ["b", "inner"],
      ["separator", "outer"],
    ]);
    expect(rows[1]).toMatchObject({ submenu: true, enabled: true });
  });

  test("a file submenu carries its file, branch and mark", () => {
    expect(fileSubmenu("r", "Recent", "/tmp/m.json", { branch: ["2"], selectionMark: " ✓" })).toEqual({
      id: "r", title: "Recent", enabled: true, submenu: true, submenuFile: "/tmp/m.json",
      submenuFileBranch: ["2"], submenuSelectionMark: " ✓",
    });
  });

  test("a message is one line even when a title holds a line feed", () => {
    const line = lineOf(menuMessage([item("a", "two\nlines")]));
    expect(line.indexOf("\n")).toBe(line.length - 1);
  });
});

describe("the environment", () => {
  const env = {
    DEMO_LAUNCHER_PID: "42", DEMO_BUNDLE_PATH: "/a/Demo.app", DEMO_REOPEN_READY_SIGNAL: "USR2", DEMO_HOSTED: "1",
    OTHER_LAUNCHER_PID: "7", OTHER_BUNDLE_PATH: "/b/Other.app", WICKERLY_HOME: "/data",
  };
  test("the prefix is the one whose launcher is the parent", () => {
    expect(discoverPrefix(env, 7)).toBe("OTHER_");
    expect(discoverPrefix(env, 99)).toBeUndefined();
    expect(discoverPrefix({ DEMO_LAUNCHER_PID: "42", DEMO_BUNDLE_PATH: "/a" }, 99)).toBe("DEMO_");
  });
  test("a unit names the prefix", () => {
    expect(hostEnvironment(env, { unit: "demo" })).toEqual({
      prefix: "DEMO_", launcherPid: 42, bundlePath: "/a/Demo.app", reopenReadySignal: "USR2", hosted: true,
      temporary: false, dataHome: "/data",
    });
    expect(hostEnvironment(env, { unit: "missing" })).toBeUndefined();
  });
});
