// Drives one client library through what the program does with a server of the
// fediverse family, against the local service at BASE (signed in as demo, with sakura
// writing to demo from a second session). The events are read both from the library's
// own WebSocket stream and, as the program reads them, as server-sent events:
//   node check.mjs megalodon|masto BASE
// Exits 0 when every step held, 1 with the step that did not.
import assert from 'node:assert/strict';
import { createHash, randomBytes } from 'node:crypto';

const [library, base] = process.argv.slice(2);
const OOB = 'urn:ietf:wg:oauth:2.0:oob';
const SCOPES = 'read write';

function step(name) {
  process.stdout.write(`${library}: ${name}\n`);
}

// What a person does in the browser: approve the request, read the code shown.
async function approve(clientId, account, challenge) {
  const query = new URLSearchParams({ client_id: clientId, redirect_uri: OOB, response_type: 'code', scope: SCOPES });
  if (challenge) {
    query.set('code_challenge', challenge);
    query.set('code_challenge_method', 'S256');
  }
  const page = await fetch(`${base}/oauth/authorize?${query}`);
  assert.equal(page.status, 200, 'the authorisation page');
  assert.match(await page.text(), /<form method="post"/);
  query.set('username', account);
  query.set('password', account);
  const answer = await fetch(`${base}/oauth/authorize`, { method: 'POST', body: query, redirect: 'manual' });
  assert.equal(answer.status, 302, 'the approval redirects to the code');
  const shown = await fetch(new URL(answer.headers.get('location'), base));
  const code = (await shown.text()).match(/<code id="code">([^<]+)<\/code>/)?.[1];
  assert.ok(code, 'the approved page shows the code');
  return code;
}

// Events as they come, and a wait for one that matches.
function collector() {
  const events = [];
  const waiting = [];
  return {
    push(event, payload) {
      events.push({ event, payload });
      waiting.splice(0).forEach((check) => check());
    },
    next(event, match, ms = 5000) {
      return new Promise((resolve, reject) => {
        const timer = setTimeout(() => reject(new Error(`no "${event}" event within ${ms} ms`)), ms);
        const check = () => {
          const found = events.find((e) => e.event === event && match(e.payload));
          if (found) {
            clearTimeout(timer);
            resolve(found.payload);
          } else {
            waiting.push(check);
          }
        };
        check();
      });
    },
  };
}

// The user stream as server-sent events, the way the program reads it.
function openStream(token) {
  const seen = collector();
  const controller = new AbortController();
  const ready = fetch(`${base}/api/v1/streaming/user`, {
    headers: { Authorization: `Bearer ${token}` },
    signal: controller.signal,
  }).then(async (res) => {
    assert.equal(res.status, 200, 'the event stream opens');
    assert.match(res.headers.get('content-type'), /^text\/event-stream/);
    const decoder = new TextDecoder();
    const reader = res.body.getReader();
    let buffer = '';
    (async () => {
      for (;;) {
        const { value, done } = await reader.read().catch(() => ({ done: true }));
        if (done) return;
        buffer += decoder.decode(value, { stream: true });
        let end;
        while ((end = buffer.indexOf('\n\n')) >= 0) {
          const lines = buffer.slice(0, end).split('\n').filter((l) => !l.startsWith(':'));
          buffer = buffer.slice(end + 2);
          const event = lines.find((l) => l.startsWith('event: '))?.slice(7);
          const data = lines.filter((l) => l.startsWith('data: ')).map((l) => l.slice(6)).join('\n');
          if (event) seen.push(event, JSON.parse(data));
        }
      }
    })();
  });
  return { ready, next: seen.next, close: () => controller.abort() };
}

// Each library behind the same few calls.
async function megalodonClient() {
  const loaded = (await import('megalodon')).default;
  const generator = loaded.default ?? loaded;
  const anonymous = generator('mastodon', base);
  return {
    async register() {
      const app = await anonymous.registerApp('Brimlark check', { scopes: SCOPES.split(' '), redirect_uris: OOB });
      return { clientId: app.client_id, clientSecret: app.client_secret };
    },
    // This library sends no PKCE verifier.
    pkce: false,
    async token(app, code) {
      return (await anonymous.fetchAccessToken(app.clientId, app.clientSecret, code, OOB)).access_token;
    },
    session(token) {
      const c = generator('mastodon', base, token);
      return {
        me: async () => (await c.verifyAccountCredentials()).data,
        firstPage: async (limit) => (await c.getHomeTimeline({ limit })).data,
        olderPage: async (limit, last) => (await c.getHomeTimeline({ limit, max_id: last })).data,
        post: async (text, replyTo) => (await c.postStatus(text, replyTo ? { in_reply_to_id: replyTo } : {})).data,
        favourite: async (id) => (await c.favouriteStatus(id)).data,
        reblog: async (id) => (await c.reblogStatus(id)).data,
        mentions: async () =>
          (await c.getNotifications({ limit: 40, exclude_types: ['follow', 'favourite', 'reblog', 'poll', 'follow_request', 'status', 'update'] })).data,
      };
    },
    // Its own WebSocket stream, at the address the instance names.
    stream(streamingUrl, token) {
      const seen = collector();
      const socket = generator('mastodon', streamingUrl, token).userSocket();
      const ready = new Promise((resolve, reject) => {
        socket.on('connect', resolve);
        socket.on('error', reject);
      });
      socket.on('update', (status) => seen.push('update', status));
      socket.on('notification', (n) => seen.push('notification', n));
      return { ready, next: seen.next, close: () => socket.stop() };
    },
  };
}

async function mastoClient() {
  const { createRestAPIClient, createOAuthAPIClient, createStreamingAPIClient } = await import('masto');
  const { WebSocket } = await import('ws');
  return {
    async register() {
      const app = await createRestAPIClient({ url: base }).v1.apps.create({ clientName: 'Brimlark check', redirectUris: OOB, scopes: SCOPES });
      return { clientId: app.clientId, clientSecret: app.clientSecret };
    },
    pkce: true,
    async token(app, code, verifier) {
      const oauth = createOAuthAPIClient({ url: base });
      const token = await oauth.token.create({
        grantType: 'authorization_code', clientId: app.clientId, clientSecret: app.clientSecret,
        redirectUri: OOB, code, codeVerifier: verifier, scope: SCOPES,
      });
      return token.accessToken;
    },
    session(token) {
      const c = createRestAPIClient({ url: base, accessToken: token });
      let pages = null;
      return {
        me: () => c.v1.accounts.verifyCredentials(),
        // The paginator follows the Link header from one page to the next.
        firstPage: async (limit) => {
          pages = c.v1.timelines.home.list({ limit })[Symbol.asyncIterator]();
          return (await pages.next()).value;
        },
        olderPage: async () => (await pages.next()).value,
        post: (text, replyTo) => c.v1.statuses.create(replyTo ? { status: text, inReplyToId: replyTo } : { status: text }),
        favourite: (id) => c.v1.statuses.$select(id).favourite(),
        reblog: (id) => c.v1.statuses.$select(id).reblog(),
        mentions: () => c.v1.notifications.list({ limit: 40, types: ['mention'] }),
      };
    },
    stream(streamingUrl, token) {
      const seen = collector();
      // It says nothing when its subscription is in place: ready is a moment after the
      // socket opens, when its subscribe message has gone out.
      let opened;
      const ready = new Promise((resolve) => { opened = () => setTimeout(resolve, 300); });
      class Watched extends WebSocket {
        constructor(...args) {
          super(...args);
          this.once('open', opened);
        }
      }
      const streaming = createStreamingAPIClient({ streamingApiUrl: streamingUrl, accessToken: token, implementation: Watched });
      const subscription = streaming.user.subscribe();
      (async () => {
        for await (const e of subscription) seen.push(e.event, e.payload);
      })().catch(() => {});
      return { ready, next: seen.next, close: () => { subscription.unsubscribe(); streaming.close(); } };
    },
  };
}

async function signIn(client, app, account) {
  let verifier = null;
  let challenge = null;
  if (client.pkce) {
    verifier = randomBytes(32).toString('base64url');
    challenge = createHash('sha256').update(verifier).digest('base64url');
  }
  const code = await approve(app.clientId, account, challenge);
  return client.token(app, code, verifier);
}

async function main() {
  const client = library === 'masto' ? await mastoClient() : await megalodonClient();

  step('registration and token');
  const app = await client.register();
  assert.ok(app.clientId && app.clientSecret);
  const token = await signIn(client, app, 'demo');
  const demo = client.session(token);
  assert.equal((await demo.me()).username, 'demo');

  step('home timeline, two pages');
  const first = await demo.firstPage(5);
  const second = await demo.olderPage(5, first.at(-1).id);
  assert.equal(first.length, 5);
  assert.equal(second.length, 5);
  const ids = new Set([...first, ...second].map((s) => s.id));
  assert.equal(ids.size, 10, 'the pages do not overlap');
  const times = [...first, ...second].map((s) => Date.parse(s.createdAt ?? s.created_at));
  assert.deepEqual(times, [...times].sort((a, b) => b - a), 'newest first across both pages');

  step('both event streams, post, reply, favourite, repeat');
  const stream = openStream(token);
  await stream.ready;
  const streamingUrl = (await (await fetch(`${base}/api/v1/instance`)).json()).urls.streaming_api;
  const socket = client.stream(streamingUrl, token);
  await socket.ready;
  const friend = first.find((s) => s.account.username !== 'demo' && !s.reblog) ?? second.find((s) => s.account.username !== 'demo' && !s.reblog);
  assert.ok(friend, 'a friend\'s status on the first pages');
  const posted = await demo.post(`${library} から投稿 https://example.com/check`);
  assert.match(posted.content, /<a href="https:\/\/example.com\/check"/);
  for (const events of [stream, socket]) {
    const update = await events.next('update', (s) => s.id === posted.id);
    assert.equal(update.account.username, 'demo');
  }
  const reply = await demo.post(`@${friend.account.acct} 返信です`, friend.id);
  assert.equal(reply.inReplyToId ?? reply.in_reply_to_id, friend.id);
  assert.equal((await demo.favourite(friend.id)).favourited, true);
  const repeat = await demo.reblog(friend.id);
  assert.equal(repeat.reblog.id, friend.id);
  assert.equal(repeat.reblogged, true);

  step('notifications of mentions, live and listed');
  const sakura = client.session(await signIn(client, app, 'sakura'));
  const mention = await sakura.post(`@demo ${library} からのお知らせ`);
  for (const events of [stream, socket]) {
    const live = await events.next('notification', (n) => n.type === 'mention' && n.status.id === mention.id);
    assert.equal(live.account.username, 'sakura');
  }
  const listed = await demo.mentions();
  assert.ok(listed.length > 0 && listed.every((n) => n.type === 'mention'), 'only mentions');
  assert.equal(listed[0].status.id, mention.id, 'the newest mention first');
  stream.close();
  socket.close();
  step('all held');
}

main().catch((e) => {
  process.stderr.write(`${library}: FAILED: ${e.stack ?? e}\n`);
  process.exit(1);
});
