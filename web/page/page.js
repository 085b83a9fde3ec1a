// The status page follows the API every 2 s; it only ever writes text, never HTML.
'use strict';
(() => {
    const $ = (id) => document.getElementById(id);
    const texts = JSON.parse($('texts').textContent);
    const token = document.body.dataset.token;
    let lastEvent = Number(document.body.dataset.lastEvent || 0);
    const say = (pattern, value) => pattern.replace('%1', value);
    const pad = (n) => String(n).padStart(2, '0');
    const timeText = (iso) => {
        const at = new Date(iso);
        const now = new Date();
        const clock = `${pad(at.getHours())}:${pad(at.getMinutes())}`;
        return at.toDateString() === now.toDateString()
            ? `${clock}:${pad(at.getSeconds())}`
            : `${pad(at.getMonth() + 1)}/${pad(at.getDate())} ${clock}`;
    };
    const get = async (path) => {
        const reply = await fetch(path, { cache: 'no-store', credentials: 'same-origin' });
        if (!reply.ok) throw new Error(String(reply.status));
        return reply;
    };

    const showStatus = (status) => {
        const reading = status.reading;
        $('temp').textContent = reading ? reading.text : '-';
        $('rb1').textContent = reading ? reading.rb1 : '-';
        $('rb0').textContent = reading ? reading.rb0 : '-';
        $('age').textContent = reading
            ? say(texts.age, Math.floor(reading.ageSeconds)) : texts.waiting;
        $('link-problem').textContent = status.linkProblem || '';
        $('mute').textContent = status.mutedUntil ? say(texts.muted, timeText(status.mutedUntil)) : '';
        const rows = $('rule-rows');
        rows.replaceChildren(...status.rules.map((rule) => {
            const row = document.createElement('tr');
            row.dataset.rule = rule.id;
            row.className = rule.fired ? (rule.acknowledged ? 'fired acknowledged' : 'fired') : 'armed';
            const name = row.insertCell();
            name.textContent = rule.name;
            const state = row.insertCell();
            state.className = 'state';
            state.textContent = rule.fired
                ? say(texts.firedSince, timeText(rule.firedSince)) + (rule.acknowledged ? texts.acknowledged : '')
                : texts.armed;
            return row;
        }));
        if (status.rules.length === 0) {
            const cell = rows.insertRow().insertCell();
            cell.colSpan = 2;
            cell.textContent = texts.noRules;
        }
    };

    const showEvents = (answer) => {
        const list = $('event-list');
        if (answer.lastId < lastEvent) list.replaceChildren(); // the program started again
        for (const event of answer.events) {
            if (list.querySelector(`li[data-id="${event.id}"]`)) continue;
            const item = document.createElement('li');
            item.dataset.id = event.id;
            item.className = event.kind;
            const time = document.createElement('time');
            time.textContent = timeText(event.time);
            const kind = document.createElement('span');
            kind.className = 'kind';
            kind.textContent = texts.kinds[event.kind] || event.kind;
            item.append(time, ' ', kind, ' ', event.text);
            list.prepend(item);
        }
        while (list.children.length > 50) list.lastElementChild.remove();
        lastEvent = answer.lastId;
    };

    const swapChart = async (id, path) => {
        const svg = new DOMParser().parseFromString(await (await get(path)).text(), 'image/svg+xml');
        const figure = $(id);
        const old = figure.querySelector('svg');
        if (svg.documentElement.nodeName === 'svg' && old)
            figure.replaceChild(document.importNode(svg.documentElement, true), old);
    };

    let ticks = 0;
    const refresh = async () => {
        try {
            showStatus(await (await get('/api/status')).json());
            showEvents(await (await get(`/api/events?since=${lastEvent}`)).json());
            if (ticks++ % 15 === 0) {
                await swapChart('chart-hour', '/chart/hour.svg');
                await swapChart('chart-day', '/chart/day.svg');
            }
        } catch (error) {
            $('link-problem').textContent = texts.offline;
        }
    };

    const act = async (button) => {
        const body = new URLSearchParams();
        if (button.dataset.action === 'mute') body.set('for', $('mute-for').value);
        const result = $('action-result');
        try {
            const reply = await fetch(`/api/${button.dataset.action}`, {
                method: 'POST', credentials: 'same-origin', cache: 'no-store',
                headers: { 'X-Zarvik-Token': token }, body,
            });
            const answer = await reply.json();
            result.textContent = reply.ok ? answer.text : say(texts.failed, answer.error);
        } catch (error) {
            result.textContent = say(texts.failed, error.message);
        }
        refresh();
    };

    for (const button of document.querySelectorAll('button[data-action]'))
        button.addEventListener('click', () => act(button));
    setInterval(refresh, 2000);
})();
